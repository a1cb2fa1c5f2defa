⍝⍝ Depth: 0 for a simple scalar, 1 for a simple array, negative for uneven nesting.
      ≡5
0
      ≡'a'
0
      ≡'abc'
1
      ≡⍬
1
      ≡(1 2)(3 4)
2
      ≡1(2 3)
¯2
      ≡(1 2)(3(4 5))
¯3
      ≡((1 2)(3 4))((5 6)(7 8))
3
      ≡0↑(1 2)(3 4)
2
⍝⍝ Tally: the length of the first axis.
      ≢2 3⍴0
2
      ≢5
1
      ≢⍬
0
      ≢(1 2)(3 4 5)
2
⍝⍝ Match: rank, shape, nesting and items; numbers within ⎕CT, characters exactly.
      1 2 3≡1 2 3
1
      1≡,1
0
      ''≡⍬
0
      ⍬≡0⍴5
1
      (0 2⍴'a')≡0 2⍴'b'
1
      (0 2⍴'a')≡0 2⍴0
0
      'abc'≡'abc'
1
      'abc'≢'abd'
1
      (1 2)(3 4)≡(1 2)(3 4)
1
      (1 2)(3 4)≡(1 2)(3 5)
0
      (1 2)(3 4)≡(1 2)(3 4)(5 6)
0
      1 'a'≡1 'a'
1
      1 'a'≡1 'b'
0
      (0↑(1 2)(3 4))≡0↑(5 6)(7 8)
1
      (0↑(1 2)(3 4))≡0↑'ab' 'cd'
0
      1≡1.00000000000001
1
      1≡1.000001
0
      0J1≡0J1
1
      1.5 2≡1.5J0 2
1
      ⎕CT←0 ⋄ 1≡1.00000000000001
0
      ⎕CT←1E¯10 ⋄ (1≡1.00000000005),1≡1.000000001
1 0
      'abc'≡'ab' 'c'
0
      (2 3⍴'abcdef')≡'abcdef'
0
