⍝⍝ Errors: the three-line display, SYNTAX ERROR details, ⎕SIGNAL and ⎕EN.
      undefined_name
VALUE ERROR
|      undefined_name
|      ∧
      1 2 +
SYNTAX ERROR
|      1 2+
|         ∧
      ⎕SIGNAL 500
ERROR 500
|      ⎕SIGNAL 500
|      ∧
      'Custom message' ⎕SIGNAL 500
Custom message
|      'Custom message'⎕SIGNAL 500
|                      ∧
      ⎕EN
500
      ⎕EM 2 6
 SYNTAX ERROR  VALUE ERROR 
      ⎕IO←3
DOMAIN ERROR
|      ⎕IO←3
|         ∧
      ⎕IO←1 1
LENGTH ERROR
|      ⎕IO←1 1
|         ∧
      x←⍎''
VALUE ERROR: No result was provided when the context expected one
|      x←⍎''
|        ∧
      (
SYNTAX ERROR
|      (
|      ∧
      ⎕SIGNAL 0
DOMAIN ERROR: Invalid error number for signal
|      ⎕SIGNAL 0
|      ∧
      ⎕SIGNAL 1000
DOMAIN ERROR: Invalid error number for signal
|      ⎕SIGNAL 1000
|      ∧
      ⎕SIGNAL 1 2
RANK ERROR: Invalid error number for signal
|      ⎕SIGNAL 1 2
|      ∧
      ⎕SIGNAL ⍬
      ∨ 1
SYNTAX ERROR: The function requires a left argument
|      ∨1
|      ∧
      1 → 2
SYNTAX ERROR: The function does not take a left argument
|      1→2
|       ∧
      ⍎'undefined_name'
VALUE ERROR
|      undefined_name
|      ∧
