⍝⍝ ⎕DMX properties after an error, and ⎕TRAP taking an error in immediate execution.
      'Custom' ⎕SIGNAL 500
Custom
|      'Custom'⎕SIGNAL 500
|              ∧
      ⎕DMX.EN
500
      ⎕DMX.EM
Custom
      ⎕TRAP←500 'E' '⎕DMX.EN'
      ⎕SIGNAL 500
500
      ⎕TRAP←11 'X'
DOMAIN ERROR
|      ⎕TRAP←11'X'
|           ∧
⍝⍝ a function that traps errors has ⎕DMX of its own: after it returns the caller's record is back
      1 2+1 2 3
LENGTH ERROR
|      1 2+1 2 3
|         ∧
      ⎕FX 'r←f' ':Trap 11' '÷0' ':Else' 'r←⎕DMX.EN' ':EndTrap'
f
      f
11
      ⎕DMX.EN
5
      ⎕FX 'r←loop' 'r←0' ':For i :In ⍳1000' ':Trap 11' '÷0' ':Else' 'r+←⎕DMX.EN' ':EndTrap' ':EndFor'
loop
      loop
11000
      ⎕DMX.EN
5
