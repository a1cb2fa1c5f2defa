⍝⍝ 0(1500⌶)X wraps X as a hashed array, 1(1500⌶)X says 0 (not hashed), 1 (no table yet) or 2 (its
⍝⍝ search table is kept), 2(1500⌶)X gives the plain array. Wrapping a hashed array changes nothing.
      H←1500⌶
      X←0(1500⌶)10 20 30 40
      1(1500⌶)X
1
      X⍳30 99
3 5
      1(1500⌶)X
2
      2(1500⌶)X
10 20 30 40
      1(1500⌶)2(1500⌶)X
0
      1(1500⌶)10 20
0
      1(1500⌶)0(1500⌶)X
2
      Y←H X
      1 H Y
2
      H 5 6 7
5 6 7
      1 H H 5 6 7
1
⍝⍝ Only the searched argument builds a table: the left of ⍳, the right of ∊.
      S←H 1 2 3
      1 2⍳S
1 2 3
      1 H S
1
      2∊S
1
      1 H S
2
⍝⍝ A hashed array is its array to every other function, to display, names and control structures.
      X+1
11 21 31 41
      X[2 3]
20 30
      ⍴X
4
      X,50
10 20 30 40 50
      X X
 10 20 30 40  10 20 30 40 
      2 2⍴X
10 20
30 40
      X
10 20 30 40
      ⎕←X
10 20 30 40
      ⍕X
10 20 30 40
      ⎕NC⊂,'X'
2.1
      'abcde'[H 2 3]
bc
      {H ⍵}¨(1 2)(3 4)
 1 2  3 4 
      ≡{H ⍵}¨(1 2)(3 4)
2
      +/X
100
      ⎕IO←H 0
      ⎕IO
0
      ⎕IO←1
      ⍎H'1+2'
3
      ⎕FX 'R←Cond X' ':If X' 'R←1' ':Else' 'R←0' ':EndIf'
Cond
      Cond H 1
1
      {⍵:'yes' ⋄ 'no'}H 0
no
⍝⍝ Changing a hashed variable in place leaves it holding its plain array.
      X[1]←7
      X
7 20 30 40
      1 H X
0
      X←H 1 2 3
      (2↑X)←9
      X
9 9 3
      1 H X
0
      X←H 1 2 3
      X+←1
      X
2 3 4
      1 H X
0
⍝⍝ Searches of hashed arrays give what the plain arrays give: floats within ⎕CT (the table is
⍝⍝ built again when ⎕CT changes), widths of numbers mixed, Booleans, characters, nested items.
      F←H 0.1 0.2 0.3
      F⍳0.1+0.2
3
      T←H,1+1E¯15
      T⍳1
1
      ⎕CT←0
      T⍳1
2
      F⍳0.1+0.2
4
      ⎕CT←1E¯14
      T⍳1
1
      I←H 1000 2 100000
      I⍳2 100000 1000 7
2 3 1 4
      I⍳2.5 2
4 2
      B←H 0 0 1 1
      B⍳1 0 2
3 1 5
      C←H'hello world'
      C⍳'low'
3 5 7
      'lo'∊C
1 1
      C∪'xyz'
hello worldxyz
      ∪C
helo wrd
      C∩'ole'
ellool
      C~'lo'
he wrd
      C⍳1 2
12 12
      N←H'abc' 'de'(1 2)3
      N⍳'de'(1 2)4
2 3 5
      (⊂'de')∊N
1
      N∪'x' 3
 abc  de  1 2  3 x
      N~⊂'de'
 abc  1 2  3
      M←H 3 2⍴1 2 3 4 5 6
      M⍳2 2⍴3 4 7 8
2 4
      M⍳1 3⍴1 2 3
LENGTH ERROR
|      M⍳1 3⍴1 2 3
|       ∧
      A←101|37×⍳1000
      D←211|53×⍳5000
      Z←H A
      (A⍳D)≡Z⍳D
1
      (D∊A)≡D∊Z
1
      (A∪D)≡Z∪D
1
      (D∩A)≡D∩Z
1
      (D~A)≡D~Z
1
      (∪A)≡∪Z
1
      Z←H A÷7
      ((A÷7)⍳D÷7)≡Z⍳D÷7
1
⍝⍝ Bound search functions prepare their array once: X∘⍳ and X∘∪ (array on the left), ∊∘X, ∩∘X
⍝⍝ and ~∘X (array on the right). They take no left argument.
      V←10 20 30 40
      f←V∘⍳
      f 30 5
3 5
      f 20
2
      f
(10 20 30 40)∘⍳
      g←∊∘V
      g 20 25
1 0
      u←V∘∪
      u 50 10 50
10 20 30 40 50
      i←∩∘V
      i 5 10 40
10 40
      w←~∘V
      w 5 10 40
5
      1 f 2
SYNTAX ERROR: The function does not take a left argument
|      1 f 2
|        ∧
      1 w 2
SYNTAX ERROR: The function does not take a left argument
|      1 w 2
|        ∧
      b←(,1+1E¯15)∘⍳
      b 1
1
      ⎕CT←0
      b 1
2
      ⎕CT←1E¯14
      b 1
1
      c←∊∘0.1 0.2 0.3
      c 0.1+0.2
1
      ⎕CT←0
      c 0.1+0.2
0
      ⎕CT←1E¯14
      (A⍳D)≡(A∘⍳)D
1
      (D∊A)≡(∊∘A)D
1
      (A∪D)≡(A∘∪)D
1
      (D∩A)≡(∩∘A)D
1
      (D~A)≡(~∘A)D
1
      k←(H A)∘⍳
      (A⍳D)≡k D
1
⍝⍝ Errors: a left argument other than 0 1 2, an I-beam number with no service.
      3(1500⌶)X
DOMAIN ERROR: Invalid left argument
|      3(1500⌶)X
|       ∧
      ⎕DMX.Message
Invalid left argument
      1 2(1500⌶)X
DOMAIN ERROR: Invalid left argument
|      1 2(1500⌶)X
|         ∧
      'a'(1500⌶)X
DOMAIN ERROR: Invalid left argument
|      'a'(1500⌶)X
|         ∧
      0(1500⌶)⎕NS''
DOMAIN ERROR
|      0(1500⌶)⎕NS''
|       ∧
      1501⌶X
DOMAIN ERROR
|      1501⌶X
|      ∧
⍝⍝ Nested items sought in a large hashed simple array are looked up at once
      X←1500⌶⍳1e5
      (X⍳⊂⍬)(X⍳(⊂⍬),5)
100001  100001 5 
