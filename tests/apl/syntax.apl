⍝⍝ Malformed statements are SYNTAX ERROR; functions are values that names can hold.
      1;2
SYNTAX ERROR
|      1;2
|      ∧
      +..×
SYNTAX ERROR
|      +. .×
|      ∧
      (1 2
SYNTAX ERROR
|      (1 2
|      ∧
      1 2)
SYNTAX ERROR
|      1 2)
|      ∧
      [1]
SYNTAX ERROR
|      [1]
|      ∧
      1 2 +
SYNTAX ERROR
|      1 2+
|         ∧
      f←⊢
      f 3
3
      (f) 4
4
      'a' f 'b'
b
⍝⍝ A value large enough to move the line's tokens while it is computed inside parentheses
      ⍴(⍳100000)
100000
      B←(⍳100000)⋄⍴B,(⍳100000)
200000
⍝⍝ Axis brackets make a derived function; functions display as written
      ⌽[1]2 2⍴1 2 3 4
3 4
1 2
      f←⌽[1]
      f
⌽[1]
      +.×
+.×
      ⊢[1]3
SYNTAX ERROR: Invalid axis
|      ⊢[1]3
|      ∧
