⍝⍝ ⍎ runs its text as a new execution level; its value is the value of its last statement.
      ⍎'1 2 3'
1 2 3
      x←⍎'4 5' ⋄ x
4 5
      ⍎'y←6'
      y
6
      ⍎'⍎''7'''
7
      1 (⍎'2 3') 4
1  2 3  4
      ⍎'a←1 ⋄ a a'
1 1
      ⍎'   '
      ⎕←⍎'8'
8
