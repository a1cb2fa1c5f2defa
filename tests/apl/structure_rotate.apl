⍝⍝ Reverse and rotate along the last axis (⌽) or the first (⊖), or the axis given.
      ⌽1 2 3
3 2 1
      ⌽'a'
a
      ⌽2 3⍴'abcdef'
cba
fed
      ⊖2 3⍴'abcdef'
def
abc
      ⌽[1]2 3⍴'abcdef'
def
abc
      ⌽(1 2)(3 4)'x'
x 3 4  1 2 
      ⌽1 0 1 1 0 0 0 0 0 1
1 0 0 0 0 0 1 1 0 1
      2⌽1 2 3 4 5
3 4 5 1 2
      ¯1⌽1 2 3 4 5
5 1 2 3 4
      7⌽'abc'
bca
      1⊖3 2⍴'abcdef'
cd
ef
ab
      1 2⌽2 3⍴1 2 3 4 5 6
2 3 1
6 4 5
      1 2 3⊖2 3⍴1 2 3 4 5 6
4 2 6
1 5 3
      1⌽[1]2 3⍴1 2 3 4 5 6
4 5 6
1 2 3
      3⌽⍬

⍝⍝ Rotate errors: the amounts must match the shape without the rotated axis.
      1 2 3⌽2 3⍴0
LENGTH ERROR
|      1 2 3⌽2 3⍴0
|           ∧
      (2 2⍴1)⌽2 3⍴0
RANK ERROR
|      (2 2⍴1)⌽2 3⍴0
|             ∧
      1.5⌽1 2 3
DOMAIN ERROR
|      1.5⌽1 2 3
|         ∧
      ⌽[3]2 3⍴0
RANK ERROR: Invalid axis
|      ⌽[3]2 3⍴0
|      ∧
      ⎕DMX.Message
Invalid axis
⍝⍝ Transpose: reversed axes, or axes placed by the left argument; repeated axes take the diagonal.
      ⍉2 3⍴'abcdef'
ad
be
cf
      ⍉'abc'
abc
      2 1 3⍉2 3 4⍴'abcdefghijklmnopqrstuvwx'
abcd
mnop

efgh
qrst

ijkl
uvwx
      1 1⍉3 3⍴1 2 3 4 5 6 7 8 9
1 5 9
      1 1⍉2 3⍴'abcdef'
ae
      ⍴⍉2 3 4⍴0
4 3 2
      ⍴3 1 2⍉2 3 4⍴0
3 4 2
      ⍉2 2⍴(1 2)'ab'(3 4)'cd'
 1 2  3 4 
 ab   cd  
      ⍉2 3⍴1 0 0 1 1 0
1 1
0 1
0 0
⍝⍝ Transpose errors.
      1⍉3 3⍴0
LENGTH ERROR
|      1⍉3 3⍴0
|       ∧
      0 1⍉3 3⍴0
DOMAIN ERROR
|      0 1⍉3 3⍴0
|         ∧
      1 3⍉3 3⍴0
RANK ERROR
|      1 3⍉3 3⍴0
|         ∧
      2 2⍉3 3⍴0
RANK ERROR
|      2 2⍉3 3⍴0
|         ∧
