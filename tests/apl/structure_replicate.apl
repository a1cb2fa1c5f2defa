⍝⍝ Replicate: each count repeats its item, 0 omits it, a negative count inserts fill items.
      1 0 2/'abc'
acc
      1 ¯2 1/1 2 3
1 0 0 3
      2/'ab'
aabb
      3/5
5 5 5
      1 2/5
5 5 5
      0/1 2 3

      1 0 1 1 0 0 0 0 0 1/'abcdefghij'
acdj
      1 1 1/'abc'
abc
      ¯2 1/(1 2)(3 4 5)
 0 0  0 0  3 4 5 
      1 0 1/2 3⍴1 2 3 4 5 6
1 3
4 6
      1 0⌿2 3⍴1 2 3 4 5 6
1 2 3
      0 1/[1]2 3⍴'abcdef'
def
      2/[1]2 3⍴'abcdef'
abc
abc
def
def
⍝⍝ Expand: each 0 inserts a fill item, each positive count takes the next item that many times.
      1 0 1\1 2
1 0 2
      1 0 1\'ab'
a b
      1 0 1\5
5 0 5
      0 0\⍬
0 0
      2 0 1\'ab'
aa b
      1 0 1\(1 2)(3 4 5)
 1 2  0 0  3 4 5 
      1 0 1 1\2 3⍴1 2 3 4 5 6
1 0 2 3
4 0 5 6
      1 0 1⍀2 3⍴1 2 3 4 5 6
1 2 3
0 0 0
4 5 6
      1 0 1\[1]2 3⍴'abcdef'
abc
   
def
⍝⍝ Errors.
      1 2 3/1 2
LENGTH ERROR
|      1 2 3/1 2
|           ∧
      (2 2⍴1)/1 2
RANK ERROR
|      (2 2⍴1)/1 2
|             ∧
      1.5/1 2
DOMAIN ERROR
|      1.5/1 2
|         ∧
      1 2 ¯1\1 2
DOMAIN ERROR
|      1 2 ¯1\1 2
|            ∧
      1 1 1\1 2
LENGTH ERROR
|      1 1 1\1 2
|           ∧
      1 0/[3]2 3⍴0
RANK ERROR: Invalid axis
|      1 0/[3]2 3⍴0
|         ∧
      ⎕DMX.Message
Invalid axis
