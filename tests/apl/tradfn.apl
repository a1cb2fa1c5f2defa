⍝⍝ ⎕FX in its three forms; the result is the name, or the index of a line that fails
      ⎕FX 'R←F X' 'R←X+1'
F
      F 41
42
      ⎕FX ↑'R←A G B' 'R←A×B' 'R←R+1'
G
      3 G 4
13
      ⎕FX 'R←T X',⎕TC[3],'R←2×X'
T
      T 5
10
      ⎕FX 'R←Bad' 'R←1' 'R←''abc'
3
      ⎕IO←0
      ⎕FX 'R←Bad' 'R←1' 'R←''abc'
2
      ⎕IO←1
      ⎕FX '{L} Z' '1'
1
      ⎕FX 'R←A A B' 'R←1'
1
      ⎕FX 1 2 3
DOMAIN ERROR
|      ⎕FX 1 2 3
|      ∧
      ⎕FX 2 2 2⍴'ab'
RANK ERROR
|      ⎕FX 2 2 2⍴'ab'
|      ∧
      ⎕NR 'F'
 R←F X  R←X+1 
      ⎕VR 'F'
     ∇R←F X
[1]   R←X+1
     ∇     
|           
      ⎕CR 'G'
R←A G B
R←A×B  
R←R+1  
⍝⍝ Niladic functions, labels and branches, unassigned values shown
      ⎕FX 'H' '''hello''' '→0' '''not shown'''
H
      H
hello
      ⎕FX 'R←S N' 'R←0' 'LOOP:→(N<1)/0' 'R←R+N' 'N←N-1' '→LOOP'
S
      S 10
55
      N←'outer'
      S 3
6
      N
outer
⍝⍝ Locals and localised system variables
      ⎕FX 'R←P X;Y;⎕IO' '⎕IO←0' 'Y←⍳X' 'R←Y'
P
      P 3
0 1 2
      ⎕IO
1
      Y←'global'
      P 2
0 1
      Y
global
⍝⍝ Valence errors
      F
      1 F 2
SYNTAX ERROR: The function does not take a left argument
|      1 F 2
|        ∧
      ⎕FX 'R←{A} Q B' 'R←B'
Q
      Q 7
7
      1 Q 7
7
⍝⍝ A 100,000-deep recursion of a defined function
      ⎕FX 'R←D N' ':If N=0' 'R←0' ':Else' 'R←1+D N-1' ':EndIf'
D
      D 100000
100000
⍝⍝ The state indicator reports defined functions and the dfns in their lines
      ⎕FX 'R←SI X' 'R←⎕SI ⎕LC' 'R←R,⊂{⎕SI}X'
SI
      SI 0
  SI   1   SI  SI  
      ⎕SI

      ⍴⎕LC
0
⍝⍝ Defined operators take their operands by the names in the header
      ⎕FX 'R←(F TWICE) X' 'R←F F X'
TWICE
      -TWICE 5
5
      {⍵×2}TWICE 3
12
      ⎕FX 'R←(F AT G) X' 'R←(F X) G X'
AT
      - AT + 3
0
      f←⌽TWICE
      f 1 2 3
1 2 3
⍝⍝ Header lists: the right argument's items go to (A B C); (R S)← returns their values
      ⎕FX 'R←F2 (A B C)' 'R←A+B×C'
F2
      F2 1 2 3
7
      F2 5
30
      F2 1 2
LENGTH ERROR
|      F2 1 2
|      ∧
      F2 (1 2)(3 4)(5 6)
16 26
      ⎕FX '(R S)←F3 X' 'R←X' 'S←⍳X'
F3
      F3 3
3  1 2 3 
      ⎕FX '{(R S)}←F4 X' 'R←X' 'S←X+1'
F4
      F4 5
      Q←F4 5
      Q
5 6
      ⎕FX '(R S)←F5 X' 'R←X'
F5
      2×F5 1
VALUE ERROR: No result was provided when the context expected one
|      2×F5 1
|      ∧
      ⎕FX '(R R)←F6 X' 'R←X'
1
      ⎕FX 'R←F7 (A A)' 'R←A'
1
⍝⍝ A dfn written over several lines of a defined function: each line is a statement
      ⎕FX 'R←MlG X' 'g←{⍺←10  ⍝ default' '  ⍵=0:⍺' '  x←⍵×2' '  x+⍺' '}' 'R←(g X),5 g 1'
MlG
      MlG 0
10 7
      MlG 3
16 7
      ⎕NR 'MlG'
 R←MlG X  g←{⍺←10  ⍝ default  ⍵=0:⍺  x←⍵×2  x+⍺  }  R←(g X),5 g 1 
      ⎕FX 'R←MlH X' 'f←{' '  0::''caught''' '  ÷⍵' '}' 'R←f X'
MlH
      MlH¨0 4
 caught  0.25
      ⎕FX 'R←MlN X' 'g←{' '  h←{' '    ⍵×2' '  }' '  1+h ⍵' '}' 'R←g X'
MlN
      MlN 5
11
      ⍴⎕CR 'MlN'
8 7
      ⎕FX 'R←MlK X' 'R←{' '⍵÷0' '}X'
MlK
      MlK 1
DOMAIN ERROR: Divide by zero
MlK[1]⍵÷0
|       ∧
      ⎕LC
1
      →
      ⎕FX 'R←MlOpen' 'g←{' '⍵+1'
2
