⍝⍝ Shape, reshape, ravel, table, catenate and laminate.
      ⍴2 3⍴'abcdef'
2 3
      ⍴5

      ⍴⍬
0
      2 3⍴'abcdef'
abc
def
      3 4⍴1 2 3
1 2 3 1
2 3 1 2
3 1 2 3
      ⍴0 5⍴'x'
0 5
      4⍴0⍴'x'
    
      3⍴0↑(1 2)(3 4 5)
 0 0  0 0  0 0 
      2 2⍴(1 2)'ab'3
 1 2  ab  
   3  1 2 
      ⍴(15⍴1)⍴5
1 1 1 1 1 1 1 1 1 1 1 1 1 1 1
⍝⍝ Reshape errors: the left must be a scalar or vector of non-negative integers, at most 15 of them.
      (16⍴1)⍴5
LIMIT ERROR: Rank of resultant array would exceed maximum permitted
|      (16⍴1)⍴5
|            ∧
      ⎕DMX.Message
Rank of resultant array would exceed maximum permitted
      ¯1⍴5
DOMAIN ERROR
|      ¯1⍴5
|        ∧
      2.5⍴5
DOMAIN ERROR
|      2.5⍴5
|         ∧
      (2 2⍴1)⍴5
RANK ERROR
|      (2 2⍴1)⍴5
|             ∧
      'a'⍴5
DOMAIN ERROR
|      'a'⍴5
|         ∧
⍝⍝ Ravel with axes: contiguous axes merge; a fraction inserts a new axis of length 1.
      ,2 3⍴'abcdef'
abcdef
      ⍴,[1 2]2 3 4⍴0
6 4
      ⍴,[2 3]2 3 4⍴0
2 12
      ⍴,[0.5]2 3⍴0
1 2 3
      ⍴,[2.5]2 3⍴0
2 3 1
      ⍴,[⍬]2 3⍴0
2 3 1
      ,[1 3]2 3 4⍴0
RANK ERROR: Invalid axis
|      ,[1 3]2 3 4⍴0
|      ∧
      ⎕DMX.Message
Invalid axis
      ,[0.5](15⍴1)⍴5
LIMIT ERROR: Rank of resultant array would exceed maximum permitted
|      ,[0.5](15⍴1)⍴5
|      ∧
      ⎕DMX.Message
Rank of resultant array would exceed maximum permitted
      ⍪'abc'
a
b
c
      ⍴⍪5
1 1
      ⍴⍪2 3 4⍴0
2 12
⍝⍝ Catenate: scalars extend, a vector joins a matrix along the axis, types combine.
      1 2 3,4 5
1 2 3 4 5
      'ab','cd'
abcd
      0,0
0 0
      1 2 3,'a'
1 2 3 a
      (2 3⍴'abcdef'),'xy'
abcx
defy
      (2 3⍴'abcdef')⍪'xyz'
abc
def
xyz
      (2 3⍴'abcdef'),'*'
abc*
def*
      (2 3⍴'abcdef')⍪'*'
abc
def
***
      '*',[1]2 3⍴'abcdef'
***
abc
def
      (2 3⍴1 2 3 4 5 6),[1]7 8 9
1 2 3
4 5 6
7 8 9
      1 0 1,2.5
1 0 1 2.5
      1 2,0J1
1 2 0J1
      (1 2)(3 4),5
 1 2  3 4  5
      'ab',(1 2)(3 4)
ab 1 2  3 4 
      ⍴⍬,⍬
0
⍝⍝ Laminate: a fractional axis adds a new axis of length 2.
      1 2 3,[0.5]4 5 6
1 2 3
4 5 6
      1 2 3,[1.5]4 5 6
1 4
2 5
3 6
      'ab',[0.5]'*'
ab
**
      7,[0.5]8
7 8
⍝⍝ Catenate errors.
      1 2 3,[2.5]4 5 6
RANK ERROR: Invalid axis
|      1 2 3,[2.5]4 5 6
|           ∧
      ⎕DMX.Message
Invalid axis
      (2 3⍴0),[3]7 8
RANK ERROR: Invalid axis
|      (2 3⍴0),[3]7 8
|             ∧
      ⎕DMX.Message
Invalid axis
      (2 3⍴0),[0]7 8
RANK ERROR: Invalid axis
|      (2 3⍴0),[0]7 8
|             ∧
      (2 3⍴0),4 5 6
LENGTH ERROR
|      (2 3⍴0),4 5 6
|             ∧
      (2 3⍴0),2 2 2 2⍴0
RANK ERROR
|      (2 3⍴0),2 2 2 2⍴0
|             ∧
      (2 3⍴0),[0.5]2 2⍴0
LENGTH ERROR
|      (2 3⍴0),[0.5]2 2⍴0
|             ∧
      ((15⍴1)⍴5),[0.5]5
LIMIT ERROR: Rank of resultant array would exceed maximum permitted
|      ((15⍴1)⍴5),[0.5]5
|                ∧
      ⎕DMX.Message
Rank of resultant array would exceed maximum permitted
