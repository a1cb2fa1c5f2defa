⍝⍝ The index generator, bracket indexing and squad.
      ⍳5
1 2 3 4 5
      ⍳0

      ⍳2 3
 1 1  1 2  1 3 
 2 1  2 2  2 3 
      ⍴⍳0 3
0 3
      ⎕IO←0 ⋄ ⍳4 ⋄ ⎕IO←1
0 1 2 3
      ⍳¯1
DOMAIN ERROR
|      ⍳¯1
|      ∧
      ⍳2.5
DOMAIN ERROR
|      ⍳2.5
|      ∧
      ⍳2 2⍴1
RANK ERROR
|      ⍳2 2⍴1
|      ∧
      ⍴⍳16⍴1
LIMIT ERROR: Rank of resultant array would exceed maximum permitted
|      ⍴⍳16⍴1
|       ∧
⍝⍝ A[I]: the result has the shape of the indexes; a scalar takes one elided index
      A←10 20 30 40 50
      A[4 2 1]
40 20 10
      A[2 2⍴1 2 3 4]
10 20
30 40
      'abc'[3 1 2 2]
cabb
      (1 'a' 2)[1 3]
1 2
      (1 2)(3 4 5)[2]
 1 2  4
      A[⍬]

      5[]
5
      ⎕IO←0 ⋄ A[0 4] ⋄ ⎕IO←1
10 50
      M←3 4⍴⍳12
      M[2;]
5 6 7 8
      M[;3]
3 7 11
      M[1 3;2 4]
 2  4
10 12
      M[2;3]
7
      M[2 2⍴1 2 3 1;1]
1 5
9 1
      (2 3 4⍴⍳24)[2;1 3;4]
16 24
⍝⍝ errors: out of range, not an integer, wrong number of indexes
      A[6]
INDEX ERROR
|      A[6]
|      ∧
      A[0]
INDEX ERROR
|      A[0]
|      ∧
      A[1.5]
DOMAIN ERROR
|      A[1.5]
|      ∧
      A['a']
DOMAIN ERROR
|      A['a']
|      ∧
      M[1]
RANK ERROR
|      M[1]
|      ∧
      M[1;2;3]
RANK ERROR
|      M[1;2;3]
|      ∧
⍝⍝ squad: fewer indexes than axes take whole trailing axes; the axis names where they apply
      2⌷A
20
      1 2⌷M
2
      2⌷M
5 6 7 8
      (⊂1 3)⌷M
1  2  3  4
9 10 11 12
      (1 2)(3)⌷[2 1]M
9 10
      2⌷[2]M
2 6 10
      ⌷M
1  2  3  4
5  6  7  8
9 10 11 12
      1 2 3⌷M
RANK ERROR
|      1 2 3⌷M
|           ∧
      1⌷[3]M
LENGTH ERROR: Invalid axis
|      1⌷[3]M
|       ∧
      1 1⌷[1 1]M
INDEX ERROR: Repeated axis
|      1 1⌷[1 1]M
|         ∧
