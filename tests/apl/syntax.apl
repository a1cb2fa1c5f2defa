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
