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
