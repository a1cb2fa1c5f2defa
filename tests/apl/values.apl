⍝⍝ Constants, strands, names and assignment: what a value looks like in the session.
      'abc'
abc
      1 2 3
1 2 3
      (1 2)(3 4)
 1 2  3 4 
      'a' 'b'
ab
      1 (2 3) 4
1  2 3  4
      A←1 ⋄ A 2 3
1 2 3
      A 'x'
1 x
      ⍬

      ''

      'it''s'
it's
      ¯3 4.5 1E10
¯3 4.5 1E10
      2J3
2J3
      A←5 ⋄ B←A ⋄ B
5
      x←y←7 ⋄ x y
7 7
      (a b)←10 20 ⋄ b a
20 10
      ⊢ 4
4
      2 ⊣ 3
2
