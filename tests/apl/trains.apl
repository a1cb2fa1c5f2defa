⍝⍝ functions side by side form trains: (f g h) is a fork, (g h) an atop, an array may be the left tine
      (+/÷≢)1 2 3 4
2.5
      (⊢⍳⌈/)3 1 4 1 5
5
      2(+×-)5
¯21
      (2×⍳)3
2 4 6
      (1 2+-)3
¯2 ¯1
      (-÷)4
¯0.25
      (+,-,×)2
2 ¯2 1
      (⌽¨,¨⊢)'ab' 'cd'
 baab  dccd 
      1(+,-)⍨2
3 1
      (,⍤0⊢)1 2
1
2
⍝⍝ named trains, trains in dfns and as operands
      avg←+/÷≢
      avg 1 2 3
2
      {(+/÷≢)⍵}¨(1 2)(3 4 5)
1.5 4
      (+/÷≢)¨(1 2)(3 4 5)
1.5 4
      g←{⍵×2}
      (g-⊢)5
5
      f←{⍺+⍵}
      (f∘2+-)3
2
      ⎕NC'avg'
3
⍝⍝ a function value that holds a train is shown as a tree
      avg
  ┌─┼─┐
  / ÷ ≢
┌─┘
+
      (-÷)
┌┴┐
- ÷
      (2×⍳)
┌─┼─┐
2 × ⍳
      (⌊/,⌈/)
  ┌─┼───┐
  / ,   /
┌─┘   ┌─┘
⌊     ⌈
      (+/÷≢)¨
|      ¨
    ┌─┘
  ┌─┼─┐
  / ÷ ≢
┌─┘
+
      (1 2 3+-)
  ┌───┼─┐
1 2 3 + -
⍝⍝ an array can only be the left tine of a fork
      (1+-×)
SYNTAX ERROR
|      (1+-×)
|      ∧
      (+1-)2
SYNTAX ERROR
|      (+1-)2
|      ∧
