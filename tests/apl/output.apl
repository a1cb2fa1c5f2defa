⍝⍝ Session output: ⎕← and ⍞←, the escape arrow, system commands.
      ⎕←'hi'
hi
      y←⎕←3 4
3 4
      y
3 4
      ⍞←'abc'
abc
      'after the prompt text'
after the prompt text
      x←⍞←'def'
def
      x
def
      →
      'rest of line' ⋄ → ⋄ 'abandoned'
rest of line
      )foo
Incorrect command
      )OFF
      'not reached'
