⍝⍝ Errors of the scalar functions: conformability, axis, conversions, characters.
      (2 3⍴0)+(3 2⍴0)
LENGTH ERROR
|      (2 3⍴0)+(3 2⍴0)
|             ∧
      (2 3⍴0)+(6⍴0)
RANK ERROR
|      (2 3⍴0)+(6⍴0)
|             ∧
      1 2 3+4 5
LENGTH ERROR
|      1 2 3+4 5
|           ∧
      'a'+1
DOMAIN ERROR
|      'a'+1
|         ∧
      1 2×'ab'
DOMAIN ERROR
|      1 2×'ab'
|         ∧
      'abc'<'b'
DOMAIN ERROR
|      'abc'<'b'
|           ∧
      -'a'
DOMAIN ERROR
|      -'a'
|      ∧
      ~2
DOMAIN ERROR
|      ~2
|      ∧
      ~1.00000000000001
DOMAIN ERROR
|      ~1.00000000000001
|      ∧
      ~'a'
DOMAIN ERROR
|      ~'a'
|      ∧
      1 2⍱3
DOMAIN ERROR
|      1 2⍱3
|         ∧
      1÷0
DOMAIN ERROR: Divide by zero
|      1÷0
|       ∧
      !171
DOMAIN ERROR
|      !171
|      ∧
      !¯1
DOMAIN ERROR
|      !¯1
|      ∧
      13○1
DOMAIN ERROR
|      13○1
|        ∧
      1.5○1
DOMAIN ERROR
|      1.5○1
|         ∧
⍝⍝ A scalar function with an axis
      1 2+[1]2 3⍴0
1 1 1
2 2 2
      (2 3⍴0)+[2]10 20 30
10 20 30
10 20 30
      (2 3 4⍴0)+[1 3](2 4⍴⍳8)
1 2 3 4
1 2 3 4
1 2 3 4

5 6 7 8
5 6 7 8
5 6 7 8
      1 2 3+[1]2 3⍴0
LENGTH ERROR
|      1 2 3+[1]2 3⍴0
|           ∧
      1 2+[3]2 3⍴0
RANK ERROR: Invalid axis
|      1 2+[3]2 3⍴0
|         ∧
      (2 3⍴0)+[1 1]2 3⍴0
INDEX ERROR: Repeated axis
|      (2 3⍴0)+[1 1]2 3⍴0
|             ∧
      1 2+[1 2]2 3⍴0
RANK ERROR
|      1 2+[1 2]2 3⍴0
|         ∧
      5+[⍬]1 2
6 7
⍝⍝ Functions without a monadic form
      ∧1
SYNTAX ERROR: The function requires a left argument
|      ∧1
|      ∧
      <2
SYNTAX ERROR: The function requires a left argument
|      <2
|      ∧
