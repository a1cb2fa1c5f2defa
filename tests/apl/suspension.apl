⍝⍝ An untrapped error suspends the function at its line; its names stay visible
      ⎕FX 'R←F X;L' 'L←10' 'R←L÷X' 'R←R+1'
F
      X←5
      F 0
DOMAIN ERROR: Divide by zero
F[2]R←L÷X
|       ∧
      ⎕SI
 F 
      ⎕LC
2
      L X
10 0
      X←4
⍝⍝ A branch resumes it at the line chosen; its caller then gets the result
      →⎕LC
3.5
      ⎕SI,⍬

      X
5
⍝⍝ Errors in lines typed at a suspension name no function; further errors suspend on top
      F 0
DOMAIN ERROR: Divide by zero
F[2]R←L÷X
|       ∧
      ÷0
DOMAIN ERROR: Divide by zero
|      ÷0
|      ∧
      ⍎'F 0'
DOMAIN ERROR: Divide by zero
F[2]R←L÷X
|       ∧
      ⎕SI
 F  F 
      ⎕STACK[;2]
 *     ⍎  *     * 
⍝⍝ The escape cuts back the most recent suspension with what waits for it
      →
      ⎕SI
 F 
      →
      ⎕SI,⍬

⍝⍝ Dfns are not suspended: the defined function that called one is
      G←{F ⍵}
      G 0
DOMAIN ERROR: Divide by zero
F[2]R←L÷X
|       ∧
      {÷⍵}0
DOMAIN ERROR: Divide by zero
|      {÷⍵}0
|       ∧
      ⎕SI
 F   
      →
⍝⍝ A defined function that an operator calls is suspended in its own frame, above the operator's;
⍝⍝ when it is resumed and returns, the operator goes on with the next item
      ⎕FX 'R←H X' 'R←F¨X' 'R←R,0'
H
      H 1 0
DOMAIN ERROR: Divide by zero
F[2]R←L÷X
|       ∧
      ⎕SI
 F  H 
      ⎕STACK[;2]
 *     ¨     * 
      ⎕LC
2 1
      X←1 2
      →⎕LC
11  11 6  0
⍝⍝ →0 ends the function; a result set before the error is returned
      ⎕FX 'R←K X' 'R←1' 'R←R÷X'
K
      K 0
DOMAIN ERROR: Divide by zero
K[2]R←R÷X
|       ∧
      →0
1
⍝⍝ A resumed function traps again
      ⎕FX 'R←T X' ':Trap 11' 'R←F X' ':Else' 'R←''trapped''' ':EndTrap' 'R←R÷X'
T
      T 0
DOMAIN ERROR
T[6]R←R÷X
|       ∧
      X←2
      →1
3
      ⎕SI,⍬

⍝⍝ The escape in a function that an operator calls ends the whole line and cuts back the suspension
      ⎕FX 'R←Fails X' 'R←÷X'
Fails
      Fails 0
DOMAIN ERROR: Divide by zero
Fails[1]R←÷X
|          ∧
      ⎕FX 'R←Escapes X' 'R←X' '→' 'R←2'
Escapes
      Escapes¨1 2
      ⍴⎕SI
0
