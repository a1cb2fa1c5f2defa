⍝⍝ :If with :ElseIf, :Else, :AndIf and :OrIf
      ⎕FX 'R←Sign X' ':If X>0' 'R←''positive''' ':ElseIf X<0' 'R←''negative''' ':Else' 'R←''zero''' ':EndIf'
Sign
      Sign 5
positive
      Sign ¯2
negative
      Sign 0
zero
      ⎕FX 'R←Both X' 'R←0' ':If X>0' ':AndIf X<10' 'R←1' ':EndIf'
Both
      (Both 5)(Both 50)(Both ¯1)
1 0 0
      ⎕FX 'R←Either X' 'R←0' ':If X<0' ':OrIf X>10' 'R←1' ':EndIf'
Either
      (Either ¯5)(Either 50)(Either 5)
1 1 0
⍝⍝ Conditions must be one Boolean
      ⎕FX 'Bad X' ':If X' '1' ':EndIf'
Bad
      Bad 1 2
LENGTH ERROR: Boolean singleton value required
Bad[1]:If X
|          ∧
      Bad 2
DOMAIN ERROR: Boolean singleton value required
Bad[1]:If X
|          ∧
⍝⍝ Loops: :While, :Repeat/:Until, :For (with :Leave and :Continue)
      ⎕FX 'R←Down N' 'R←⍬' ':While N>0' 'R←R,N' 'N←N-1' ':EndWhile'
Down
      Down 4
4 3 2 1
      ⎕FX 'R←Twice N' 'R←1' ':Repeat' 'R←R×2' ':Until R≥N'
Twice
      Twice 100
128
      ⎕FX 'R←Sum V;I' 'R←0' ':For I :In V' 'R←R+I' ':EndFor'
Sum
      Sum 1 2 3 4
10
      Sum ⍬
0
      ⎕FX 'R←Odd V;I' 'R←⍬' ':For I :In V' ':If 0=2|I' ':Continue' ':EndIf' ':If I>7' ':Leave' ':EndIf' 'R←R,I' ':EndFor'
Odd
      Odd 1 2 3 4 5 6 7 8 9 10
1 3 5 7
      ⎕FX 'R←Pairs V;A;B' 'R←⍬' ':For A B :In V' 'R←R,A×B' ':EndFor'
Pairs
      Pairs (1 2)(3 4)
2 12
      ⎕FX 'R←Pairs2 V;A;B' 'R←⍬' ':For (A B) :In V' 'R←R,A×B' ':EndFor'
Pairs2
      Pairs2 (1 2)(3 4)
2 12
      ⎕FX 'R←Nest;I;J' 'R←⍬' ':For I :In 1 2' ':For J :In 1 2' 'R←R,10×I+J' ':EndFor' ':EndFor'
Nest
      Nest
20 30 30 40
⍝⍝ :Select with :Case and :CaseList
      ⎕FX 'R←Kind X' ':Select X' ':Case 1' 'R←''one''' ':CaseList 2 3' 'R←''two or three''' ':Case ''a''' 'R←''letter''' ':Else' 'R←''other''' ':EndSelect'
Kind
      (Kind 1)(Kind 3)(Kind 'a')(Kind 9)
 one  two or three  letter  other 
⍝⍝ :Return and :GoTo
      ⎕FX 'R←Early X' 'R←1' ':If X' ':Return' ':EndIf' 'R←2'
Early
      (Early 1)(Early 0)
1 2
      ⎕FX 'R←Jump' 'R←1' ':GoTo 4' 'R←2' 'R←R+10'
Jump
      Jump
11
⍝⍝ :InEach takes element i of each array in turn
      ⎕FX 'R←Zip;A;B' 'R←⍬' ':For A B :InEach (1 2 3)(10 20 30)' 'R←R,A+B' ':EndFor'
Zip
      Zip
11 22 33
      ⎕FX 'R←Bad2;A;B' 'R←⍬' ':For A B :InEach (1 2)(1 2 3)' 'R←R,A' ':EndFor'
Bad2
      Bad2
LENGTH ERROR
Bad2[2]:For A B :InEach (1 2)(1 2 3)
|       ∧
⍝⍝ :With runs its body in another namespace
      ns←⎕NS ''
      ns.v←42
      ⎕FX 'R←InNs' ':With ns' 'x←v+1' ':EndWith' 'R←ns.x,⎕NC''v'''
InNs
      InNs
43 0
⍝⍝ :Hold with one thread runs its body; its tokens are checked
      ⎕FX 'R←H1' ':Hold ''tok'' 1' 'R←''held''' ':EndHold'
H1
      H1
held
      ⎕FX 'R←H2' ':Hold 2 2⍴1' 'R←1' ':EndHold'
H2
      H2
RANK ERROR
H2[1]:Hold 2 2⍴1
|              ∧
⍝⍝ :For over ⍳n counts without making the vector
      ⎕FX 'R←Big' 'R←⍬' ':For i :In ⍳1E9' 'R,←i' ':If i=3' ':Leave' ':EndIf' ':EndFor'
Big
      Big
1 2 3
      ⎕FX 'R←Upto N' 'R←⍬' ':For i :In ⍳N' 'R,←i' ':EndFor'
Upto
      Upto 4
1 2 3 4
      ⍴Upto 0
0
      ⎕IO←0
      Upto 4
0 1 2 3
      ⎕IO←1
      ⎕FX 'R←Twice' 'R←⍬' ':For i :In 2×⍳3' 'R,←i' ':EndFor'
Twice
      Twice
2 4 6
⍝⍝ :Return, :Leave, :Continue, :Else and closers take no expression
      ⎕FX 'R←Ret' 'R←1' ':Return 5' 'R←2'
Ret
      Ret
SYNTAX ERROR
Ret[2]:Return 5
|      ∧
      →
      ⎕FX 'R←EndX' 'R←1' ':If 1' 'R←2' ':EndIf 3'
EndX
      EndX
SYNTAX ERROR
EndX[4]:EndIf 3
|       ∧
      →
⍝⍝ :AndIf and :OrIf extend the conditions of :While and :Until too
      ⎕FX 'R←W2' 'R←0' ':While R<10' ':AndIf R<3' 'R+←1' ':EndWhile'
W2
      W2
3
      ⎕FX 'R←W3' 'R←0' ':While R>100' ':OrIf R<3' 'R+←1' ':EndWhile'
W3
      W3
3
      ⎕FX 'R←R2' 'R←0' ':Repeat' 'R+←1' ':Until R>2' ':AndIf 0=2|R'
R2
      R2
4
      ⎕FX 'R←R3' 'R←0' ':Repeat' 'R+←1' ':Until R>100' ':OrIf R=5'
R3
      R3
5
