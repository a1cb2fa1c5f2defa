⍝⍝ Indexed assignment A[I]←V and selective assignment (f A)←V.
      A←10 20 30 40 50
      A[2 4]←7 8
      A
10 7 30 8 50
      A[1 5]←0
      A
0 7 30 8 0
      A[2]←1000.5
      A
0 1000.5 30 8 0
      A[1]←'x'
      A
x 1000.5 30 8 0
      A[3]←⊂'abc'
      A
x 1000.5  abc  8 0
      M←3 4⍴⍳12
      M[2;]←0
      M
1  2  3  4
0  0  0  0
9 10 11 12
      M[1 3;2 3]←2 2⍴'abcd'
      M
1 a b  4
0 0 0  0
9 c d 12
      S←'hello'
      S[1]←'J'
      S
Jello
      S[2 2]←'ay'
      S
Jyllo
⍝⍝ the shared value is not changed through the other name
      B←C←1 2 3
      B[2]←9
      B C
 1 9 3  1 2 3 
⍝⍝ errors leave the variable as it was
      A←1 2 3
      A[4]←1
INDEX ERROR
|      A[4]←1
|          ∧
      A[1 2]←1 2 3
LENGTH ERROR
|      A[1 2]←1 2 3
|            ∧
      A[1 2]←2 2⍴1
RANK ERROR
|      A[1 2]←2 2⍴1
|            ∧
      A[1;2]←5
RANK ERROR
|      A[1;2]←5
|            ∧
      A[1.5]←5
DOMAIN ERROR
|      A[1.5]←5
|            ∧
      A
1 2 3
      f←⊢
      f[1]←2
SYNTAX ERROR: Can't change nameclass on assignment
|      f[1]←2
|          ∧
      U[1]←2
SYNTAX ERROR
|      U[1]←2
|          ∧
⍝⍝ selective assignment through structural functions
      B←1 2 3 4 5
      (2↑B)←100 200
      B
100 200 3 4 5
      (1 0 1 0 1/B)←0
      B
0 200 0 4 0
      (B[2 3])←77
      B
0 77 77 4 0
      (7↑B)←⍳7
      B
1 2 3 4 5
      (¯2↑B)←'yz'
      B
1 2 3 yz
      (⌽B)←⍳5
      B
5 4 3 2 1
      N←3 3⍴⍳9
      (1 1⍉N)←0
      N
0 2 3
4 0 6
7 8 0
      (,N)←⍳9
      N
1 2 3
4 5 6
7 8 9
      (2⌷N)←7 8 9
      N
1 2 3
7 8 9
7 8 9
⍝⍝ through first and pick the value replaces the whole item
      C←(1 2)(3 4)
      (⊃C)←'abc'
      C
 abc  3 4 
      (2⊃C)←9
      C
 abc  9
      (2↑B)←1 2 3
LENGTH ERROR
|      (2↑B)←1 2 3
|           ∧
      (2↑B)←⊂1 2
      B
 1 2  1 2  3 2 1
      (⊂B)←1
SYNTAX ERROR
|      (⊂B)←1
|       ∧
      (2↑3)←1
SYNTAX ERROR
|      (2↑3)←1
|           ∧
⍝⍝ through each, the operand selects inside every selected item
      X←(1 2)(3 4)
      (⊃¨X)←10 20
      X
 10 2  20 4 
      X←(1 2 3)(4 5 6)
      (2↑¨X)←(10 20)(30 40)
      X
 10 20 3  30 40 6 
      (1↓¨X)←0
      X
 10 0 0  30 0 0 
      (⌽⊃¨X)←'a' 'b'
      X
 b 0 0  a 0 0 
      (2⊃¨X)←⊂'ab'
      X
 b ab  0  a ab  0 
      (⊃¨1↓X)←7
      X
 b ab  0  7  ab  0 
      X←(1 2)(3 4)
      (3↑¨X)←(1 2 3)(4 5 6)
      X
 1 2  4 5 
      (⊃¨X)←1 2 3
LENGTH ERROR
|      (⊃¨X)←1 2 3
|           ∧
      (+¨X)←1
SYNTAX ERROR
|      (+¨X)←1
|       ∧
      (⊃¨⊃¨X)←1
NONCE ERROR
|      (⊃¨⊃¨X)←1
|       ∧
      X
 1 2  4 5 
⍝⍝ a pick path of two steps reaches into an item; deeper paths are not selections here
      db←(1 2 3)(4 5 6)
      (2 1⊃db)←99
      db
 1 2 3  99 5 6 
      (1(2)⊃db)←'ab'
      db
 1  ab  3  99 5 6 
      m←2 2⍴(1 2)(3 4)(5 6)(7 8)
      ((2 1)2⊃m)←0
      m
 1 2  3 4 
 5 0  7 8 
      ⎕IO←0
      (1 0⊃db)←7
      db
 1  ab  3  7 5 6 
      ⎕IO←1
      (3 1⊃db)←0
INDEX ERROR
|      (3 1⊃db)←0
|          ∧
      (2 9⊃db)←0
INDEX ERROR
|      (2 9⊃db)←0
|          ∧
      (2 1 1⊃db)←0
NONCE ERROR
|      (2 1 1⊃db)←0
|            ∧
      x←1 2
      (2 1⊃x)←0
RANK ERROR
|      (2 1⊃x)←0
|          ∧
