⍝⍝ Take and drop: counts from the front or the back, padding with the prototype when overtaking.
      5↑1 2
1 2 0 0 0
      ¯5↑'ab'
   ab
      2↑'abcde'
ab
      ¯2↑'abcde'
de
      3↑(1 2)(3 4 5)
 1 2  3 4 5  0 0 
      ¯3↑'ab' 'c'
     ab c
      3↑0↑(1 2)(3 4 5)
 0 0  0 0  0 0 
      2 ¯2↑3 4⍴'abcdefghijkl'
cd
gh
      ¯4 5↑2 3⍴'abcdef'
     
     
abc  
def  
      2 3↑5
5 0 0
0 0 0
      0↑1 2 3

      ⍬↑5
5
      2↓'abcde'
cde
      ¯2↓'abcde'
abc
      10↓1 2 3

      1 ¯1↓3 4⍴'abcdefghijkl'
efg
ijk
      ⍴2 3↓5
0 0
      ⍴0 0↓2 3⍴0
2 3
⍝⍝ With an axis, the counts apply to the axes named.
      2↑[2]3 4⍴'abcdefghijkl'
ab
ef
ij
      ¯1↑[1]3 4⍴'abcdefghijkl'
ijkl
      1↓[2]3 4⍴'abcdefghijkl'
bcd
fgh
jkl
      1 2↑[2 1]3 4⍴'abcdefghijkl'
a
e
⍝⍝ Errors.
      2 2 2↑2 3⍴0
RANK ERROR
|      2 2 2↑2 3⍴0
|           ∧
      (1 1⍴2)↑1 2 3
RANK ERROR
|      (1 1⍴2)↑1 2 3
|             ∧
      1.5↑1 2 3
DOMAIN ERROR
|      1.5↑1 2 3
|         ∧
      2 2↑[1]3 4⍴0
LENGTH ERROR
|      2 2↑[1]3 4⍴0
|         ∧
      2 2↑[1 1]3 4⍴0
INDEX ERROR: Repeated axis
|      2 2↑[1 1]3 4⍴0
|         ∧
      ⎕DMX.Message
Repeated axis
      2↑[3]3 4⍴0
RANK ERROR: Invalid axis
|      2↑[3]3 4⍴0
|       ∧
      ⎕DMX.Message
Invalid axis
      (16⍴1)↑5
LIMIT ERROR: Rank of resultant array would exceed maximum permitted
|      (16⍴1)↑5
|            ∧
      ⎕DMX.Message
Rank of resultant array would exceed maximum permitted
