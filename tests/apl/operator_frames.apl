⍝⍝ operators whose operands are dfns or defined functions call them from frames of their own: depth
⍝⍝ is bounded by the workspace only, and errors, traps and the state indicator see every call
      f←{⍵=0:0 ⋄ 1+⊃∇¨⍵-1}
      f 3000
3000
      depth←{0=≢⍵:0 ⋄ 1+⌈/∇¨⍵}
      depth ⊂⊂⊂⊂⍬
4
      {⍵×2}¨1 2 3
2 4 6
      1 2{⍺+⍵}¨3 4
4 6
      2{⍺ ⍵}¨3 4
 2 3  2 4 
      {⍵}¨'ab'(1 2)
 ab  1 2 
      ⍴{⍵}¨2 3⍴⍳6
2 3
      +/{⍵}¨⍳10000
50005000
      ⎕FX 'r←g x' 'r←x+1'
g
      g¨1 2 3
2 3 4
      1 2{⍺}¨1 2 3
LENGTH ERROR
|      1 2{⍺}¨1 2 3
|           ∧
      {}¨1 2
VALUE ERROR: No result was provided when the context expected one
|      {}¨1 2
|       ∧
      {÷⍵}¨1 0
DOMAIN ERROR: Divide by zero
|      {÷⍵}¨1 0
|       ∧
      {0::'caught' ⋄ {÷⍵}¨1 0}0
caught
      ⎕FX 'r←t x' ':Trap 11' 'r←{÷⍵}¨x' ':Else' 'r←⎕DMX.EN' ':EndTrap'
t
      t 1 0
11
      ⎕FX 'r←s x' 'r←⎕STACK[;2]'
s
      ⊃s¨⊂0
    ¨  * 
⍝⍝ reduce, commute, compose, power and trains call dfns and defined functions from frames too
      {⍺+⍵}/1 2 3 4
10
      {⍺,⍵}/1 2 3
 1 2 3 
      {⍺,⍵}/(1 2)(3 4)
 1 2 3 4 
      {⍺-⍵}⌿5 3 1
3
      {⍵,⍺}⍨1 2
1 2 1 2
      2{⍺-⍵}⍨10
8
      {⍵×2}∘{⍵+1}3
8
      2∘{⍺×⍵}5
10
      {⍺÷⍵}∘2⊢10
5
      1{⍺,⍵}∘{⍵×10}2
1 20
      {⍵+1}⍣3⊢0
3
      {⍵+1}⍣0⊢0
0
      {⍵÷2}⍣{⍺<1}10
0.625
      2{⍺+⍵}⍣2⊢0
4
      ({⍵+1}{⍵×⍵}⊢)3
9
      ({⍵×2}-⊢)5
5
      (1 2{⍺+⍵}⊢)3
4 5
      {⍺+⍵}/⍳10000
50005000
⍝⍝ recursion through them is not limited by the C++ stack
      down←{⍵=0:0 ⋄ 1+{⍵}∘∇ ⍵-1}
      down 3000
3000
      count←{⍵=0:0 ⋄ 1+(∇⍣1)⍵-1}
      count 3000
3000
⍝⍝ their errors
      {⍵+1}⍣{1 1}5
LENGTH ERROR
|      {⍵+1}⍣{1 1}5
|                ∧
      {⍺÷⍵}/1 0
DOMAIN ERROR: Divide by zero
|      {⍺÷⍵}/1 0
|        ∧
      x←{}⍨1
VALUE ERROR: No result was provided when the context expected one
|      x←{}⍨1
|         ∧
      {⍺+⍵}/⍬
DOMAIN ERROR
|      {⍺+⍵}/⍬
|          ∧
⍝⍝ rank with a dfn operand applies it to the cells from a frame as well
      {⌽⍵}⍤1⊢2 3⍴⍳6
3 2 1
6 5 4
      1 2{⍺+⍵}⍤0 1⊢2 3⍴⍳6
2 3 4
6 7 8
      {⍵ ⍵}⍤0⊢1 2
1 1
2 2
      r←{⍵=0:0 ⋄ 1+∇⍤0⊢⍵-1}
      r 3000
3000
      1 2 3{⍺}⍤0⊢1 2
LENGTH ERROR
|      1 2 3{⍺}⍤0⊢1 2
|             ∧
