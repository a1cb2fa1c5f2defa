⍝⍝ Outer product: scalar functions over the extended arguments
      1 2 3∘.×1 2
1 2
2 4
3 6
      'abc'∘.='abd'
1 0 0
0 1 0
0 0 0
      (⍳3)∘.<⍳3
0 1 1
0 0 1
0 0 0
      ⍴(2 3⍴0)∘.+4 5⍴0
2 3 4 5
      1 2∘.+(10 20)(30 40)
 11 21  31 41 
 12 22  32 42 
      2147483647 1∘.+1 2
2147483648 2147483649
|         2          3
⍝⍝ Other functions item by item; = on nested items pervades, ≡ compares whole items
      (⊂'ab')∘.≡⊂'ab'
1
      'ab' 'cd'∘.≡'ab' 'xy' 'cd'
1 0 0
0 0 1
      (1 2)(3 4)∘.=(1 2)(3 5)
 1 1  0 0 
 0 0  1 0 
      1 2∘.{⍺⍴⍵}'ab'
 a   b  
 aa  bb 
      1 2∘.,3 4
 1 3  1 4 
 2 3  2 4 
      1 0 1 1∘.{⍺,⍵}'ab'
 1 a  1 b 
 0 a  0 b 
 1 a  1 b 
 1 a  1 b 
      ⍴1 0 1∘.{⍺,⍵}⍬
3 0
      ⍴⍬∘.+1 2 3
0 3
      ⍴1 2∘.{⍺,⍵}⍬
2 0
⍝⍝ Inner product
      (2 2⍴⍳4)+.×2 2⍴⍳4
 7 10
15 22
      1 2 3+.×4 5 6
32
      (2 3⍴⍳6)+.×3 2⍴⍳6
22 28
49 64
      (2 3⍴⍳6)+.×3
18 45
      3+.×2 3⍴⍳6
15 21 27
      (2 3⍴0.5)+.×3 2⍴⍳6
4.5 6
4.5 6
      (3 3⍴1 0 0 0 1 0 0 0 1)+.×3 3⍴⍳9
1 2 3
4 5 6
7 8 9
      (2 2⍴100 ¯100 50 25)+.×2 2⍴127 ¯128 3 4
12400 ¯13200
 6425  ¯6300
      (2 2⍴2147483647)+.×2 2⍴2
8589934588 8589934588
8589934588 8589934588
      'abc' 'de'+.≡'abc' 'xy'
1
      (2 3⍴'abcdef')∧.=3 2⍴'adbecf'
1 0
0 1
      1 2 3∨.>0 0 4
1
      1 2 3 ⌈.+ 4 5 6
9
      1 2{⍺×⍵}.+3 4
24
      (2 0⍴0)+.×0 3⍴0
0 0 0
0 0 0
      (2 0⍴0)×.+0 3⍴0
1 1 1
1 1 1
      ⍴(2 0⍴0){⍺+⍵}.×0 3⍴0
DOMAIN ERROR
|      ⍴(2 0⍴0){⍺+⍵}.×0 3⍴0
|                    ∧
⍝⍝ Errors
      +.×1 2
SYNTAX ERROR: The function requires a left argument
|      +.×1 2
|        ∧
      ∘.×1 2
SYNTAX ERROR: The function requires a left argument
|      ∘.×1 2
|        ∧
      1 2 3+.×1 2
LENGTH ERROR
|      1 2 3+.×1 2
|             ∧
      (2 3⍴0)+.×2 3⍴0
LENGTH ERROR
|      (2 3⍴0)+.×2 3⍴0
|               ∧
      ((8⍴1)⍴0)∘.+(8⍴1)⍴0
LIMIT ERROR: Rank of resultant array would exceed maximum permitted
|      ((8⍴1)⍴0)∘.+(8⍴1)⍴0
|                 ∧
      ((9⍴1)⍴0)+.×(9⍴1)⍴0
LIMIT ERROR: Rank of resultant array would exceed maximum permitted
|      ((9⍴1)⍴0)+.×(9⍴1)⍴0
|                 ∧
