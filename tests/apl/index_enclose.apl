⍝⍝ The enclose family: enclose, partitioned enclose and partition, first and mix, split, pick,
⍝⍝ enlist and type, with the meanings ⎕ML gives ↑ ⊃ ∊ and dyadic ⊂.
      ⊂1 2 3
 1 2 3 
      ≡⊂5
0
      ⊂[1]2 3⍴⍳6
 1 4  2 5  3 6 
      ⊂[2 1]2 3⍴⍳6
 1 4 
 2 5 
 3 6 
      ↓2 3⍴⍳6
 1 2 3  4 5 6 
      ↓[1]2 3⍴⍳6
 1 4  2 5  3 6 
      ↓5
5
      ↓[3]2 3⍴⍳6
RANK ERROR: Invalid axis
|      ↓[3]2 3⍴⍳6
|      ∧
⍝⍝ ⎕ML 1: ↑ mixes, ⊃ takes the first item, dyadic ⊂ encloses partitions at each 1
      ↑(1 2)(3 4 5)
1 2 0
3 4 5
      ↑'ab' 'cde'
ab 
cde
      ↑(1 2)'abc'
1 2 0
a b c
      ↑[1](1 2)(3 4 5)
1 3
2 4
0 5
      ↑[0.5]'ab' 'cd'
ac
bd
      ↑[3]'ab' 'cd'
RANK ERROR: Invalid axis
|      ↑[3]'ab' 'cd'
|      ∧
      ⍴↑0⍴⊂'abc'
0 3
      ⍴↑(⍳2)(2 3⍴⍳6)
2 2 3
      ⊃(1 2)(3 4 5)
1 2
      ⊃⍬
0
      ⊃0⍴⊂'abc'
   
      0 1 0 1 1⊂'abcde'
 bc  d  e 
      1⊂'abc'
 a  b  c 
      ⍴0⊂'abc'
0
      1 0 1⊂[1]3 2⍴⍳6
 1 2  5 6 
 3 4      
      2 0⊂'ab'
DOMAIN ERROR
|      2 0⊂'ab'
|         ∧
      1 0 1⊂'ab'
LENGTH ERROR
|      1 0 1⊂'ab'
|           ∧
      ⊂⍨'ab'
DOMAIN ERROR
|      ⊂⍨'ab'
|      ∧
      ⊂⍨1 0 1
 1 0  1 
⍝⍝ ⎕ML 2: ↑ takes the first item and ⊃ mixes
      ⎕ML←2
      ↑(1 2)(3 4 5)
1 2
      ⊃(1 2)(3 4 5)
1 2 0
3 4 5
⍝⍝ ⎕ML 3: dyadic ⊂ partitions where the left argument increases; 0 drops
      ⎕ML←3
      1 1 2 2 0 3⊂'abcdef'
 ab  cd  f 
      2 2 1 1⊂'abcd'
 abcd 
⍝⍝ ⎕ML 0: ∊ is type
      ⎕ML←0
      ∊(1 2)(3(4 5))
 0 0  0  0 0  
      ∊'ab' 5
     0
      ⎕ML←1
      ∊(1 2)(3(4 5))
1 2 3 4 5
      ∊(1 2)'ab'
1 2 ab
      ∊'abc'
abc
      ⍴∊⊂⍬
0
⍝⍝ pick: one item per level; each a scalar for a vector, a vector of indexes for an array
      2⊃(1 2)(3 4 5)
3 4 5
      2 3⊃(1 2)(3 4 5)
5
      (⊂1 2)⊃2 3⍴⍳6
2
      ⍬⊃5
5
      3⊃1 2
INDEX ERROR
|      3⊃1 2
|       ∧
      (1 1)⊃1 2
RANK ERROR
|      (1 1)⊃1 2
|           ∧
      'a'⊃1 2
DOMAIN ERROR
|      'a'⊃1 2
|         ∧
