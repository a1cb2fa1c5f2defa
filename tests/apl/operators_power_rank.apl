⍝⍝ Commute
      1 2 3-⍨10
9 8 7
      ×⍨3 4
9 16
      2 3⍴⍨2 2
2 3
2 3
⍝⍝ Compose: f∘g, A∘f, f∘B
      -∘÷4
¯0.25
      1 -∘÷ 4
0.75
      2∘* 3
8
      (*∘2) 3
9
      (⍴∘⍴) 2 3⍴0
2
      'abc'∘⍳ 'cab'
3 1 2
      (∊∘'aeiou') 'house'
0 1 1 0 1
      2 (2∘+) 3
SYNTAX ERROR: The function does not take a left argument
|      2(2∘+)3
|       ∧
      1 (*∘2) 3
SYNTAX ERROR: The function does not take a left argument
|      1(*∘2)3
|       ∧
⍝⍝ Power with a count: the result fed back as the right argument, the left argument kept
      2×⍣3⊢1
8
      (÷∘2)⍣3⊢80
10
      1 2+⍣0⊢5
5
      3 (+⍣4) 1
13
      {⍵,⍴⍵}⍣3⊢⍬
0 1 2
⍝⍝ Power until the test gives 1: (new value) g (previous value)
      {1+÷⍵}⍣=1
1.618033989
      1 +∘÷⍣= 1
1.618033989
      {⌊⍵÷2}⍣{⍺=0}100
0
      {⍵+1}⍣{⍺>5}0
6
      {1↓⍵}⍣≡'abc'

⍝⍝ Negative counts apply the inverse: f X = Y or A f X = Y solved for X
      -⍣¯1⊢2
¯2
      2+⍣¯1⊢10
8
      2-⍣¯1⊢10
¯8
      2×⍣¯2⊢100
25
      (2∘×)⍣¯1⊢10
5
      2*⍣¯1⊢8
3
      1⌽⍣¯1⊢1 2 3
3 1 2
      10⊥⍣¯1⊢1234
1 2 3 4
      2⊥⍣¯1⊢5 0
1 0
0 0
1 0
      ⍴10⊥⍣¯1⊢0
0
⍝⍝ Power errors: a scalar count, a single Boolean test result, functions without an inverse
      +⍣(1 2)⊢3
RANK ERROR
|      +⍣(1 2)⊢3
|      ∧
      +⍣1.5⊢3
DOMAIN ERROR
|      +⍣1.5⊢3
|      ∧
      {⍵}⍣{2}1
DOMAIN ERROR
|      {⍵}⍣{2}1
|            ∧
      {⍵}⍣{1 1}1
LENGTH ERROR
|      {⍵}⍣{1 1}1
|              ∧
      {⍵}⍣¯1⊢2
NONCE ERROR
|      {⍵}⍣¯1⊢2
|        ∧
      ×⍣¯1⊢2
NONCE ERROR
|      ×⍣¯1⊢2
|      ∧
⍝⍝ Rank: the operand applied to cells, the results mixed
      (+/⍤1) 2 3⍴⍳6
6 15
      (⊂⍤1) 2 3⍴⍳6
 1 2 3  4 5 6 
      (⌽⍤1) 2 3⍴⍳6
3 2 1
6 5 4
      (⍳⍤0) 1 2 3
1 0 0
1 2 0
1 2 3
      (+/⍤¯1) 2 3⍴⍳6
6 15
      (,⍤2) 2 2 2⍴⍳8
1 2 3 4
5 6 7 8
      ⍴(⍴⍤0) 'ab' 'cde'
2 0
      10 20(+⍤0 1) 2 3⍴1
11 11 11
21 21 21
      1 2 3(+⍤1) 2 3⍴1
2 3 4
2 3 4
      (2 3⍴⍳6)(+⍤1 0)10 20
11 12 13
24 25 26
      1 2(,⍤0)3 4
1 3
2 4
      (1 2)(3 4){⍺,⍵}⍤1 0⊢5
 1 2  3 4  5
      ⍴(+/⍤1) 0 3⍴0
0
      (+⍤1 0 1) 2 3⍴1
1 1 1
1 1 1
⍝⍝ Rank errors: frames that do not match, ranks that are not 1 to 3 integers
      1 2 3(+⍤0 1) 2 3⍴⍳6
LENGTH ERROR
|      1 2 3(+⍤0 1)2 3⍴⍳6
|           ∧
      (2 2⍴1)(+⍤0) 2 3⍴1
LENGTH ERROR
|      (2 2⍴1)(+⍤0)2 3⍴1
|             ∧
      (+⍤1 2 3 4) 1 2
LENGTH ERROR
|      (+⍤1 2 3 4)1 2
|      ∧
      (+⍤(1 1⍴1)) 1 2
RANK ERROR
|      (+⍤(1 1⍴1))1 2
|      ∧
      (+⍤0.5) 1 2
DOMAIN ERROR
|      (+⍤0.5)1 2
|      ∧
⍝⍝ f∘B is inverted with B as the right argument
      (+∘3⍣¯1)10
7
      (-∘3⍣¯1)10
13
      (×∘2⍣¯1)10
5
      (÷∘2⍣¯1)10
20
      (⌈∘2⍣¯1)10
NONCE ERROR
|      (⌈∘2⍣¯1)10
|      ∧
