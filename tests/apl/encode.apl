⍝⍝ Decode ⊥, encode ⊤ and matrix divide ⌹.
⍝⍝ Decode: radix against digits, a single radix or digit row extends, integers past 32 bits
⍝⍝ become floats, complex radices work.
      2⊥1 0 1
5
      24 60 60⊥1 2 3
3723
      10⊥1 2 3
123
      10⊥3 2⍴1 2 3 4 5 6
135 246
      (2 3⍴10 10 10 2 2 2)⊥1 0 1
101 5
      10 10 10⊥1 2⍴7 8
777 888
      100000 100000 100000⊥1 2 3
1.00002E10
      0J1⊥1 1
1J1
      (0⍴0)⊥0⍴0
0
      1 2 3⊥1 2
LENGTH ERROR
|      1 2 3⊥1 2
|           ∧
      'a'⊥1
DOMAIN ERROR
|      'a'⊥1
|         ∧
      ⊥1 2
SYNTAX ERROR: The function requires a left argument
|      ⊥1 2
|      ∧
⍝⍝ Encode: last digit first, a zero radix takes what is left, negative values and floats use the
⍝⍝ residue, the result's shape is the radix's shape followed by the values'.
      10 10 10⊤123
1 2 3
      2 2 2⊤5
1 0 1
      10⊤123
3
      0 10⊤123
12 3
      10 10⊤¯1
9 9
      2 2⊤0 1 2 3
0 0 1 1
0 1 0 1
      (2 2⍴10 2 10 2)⊤5 6
0 0
0 1

5 6
1 0
      10 10⊤12.5
1 2.5
      0 1⊤2.75
2 0.75
      ⍴(0⍴0)⊤5
0
      10⊤'a'
DOMAIN ERROR
|      10⊤'a'
|        ∧
⍝⍝ Under ⎕FR 1287 non-integers are decoded and encoded in decimal: 34 digits.
      ⎕FR←1287
      ⎕PP←34
      10⊥0.1 0.2
1.2
      10⊥1E32 1
1.000000000000000000000000000000001E33
      0 1⊤2.75
2 0.75
      ⎕FR←645
      ⎕PP←10
⍝⍝ Matrix divide: inverse, solutions, least squares for more rows than columns; vectors are
⍝⍝ one-column matrices and scalars 1 by 1.
      ,⌹2 2⍴1 2 3 4
¯2 1 1.5 ¯0.5
      1 2⌹2 2⍴2 0 0 4
0.5 0.5
      3 5 7⌹3 2⍴1 1 1 2 1 3
1 2
      1 2 3⌹3 1⍴1 1 1
2
      ⌹4
0.25
      6⌹3
2
      ⌹1 2
0.2 0.4
      ⍴⌹3 0⍴0
0 3
⍝⍝ Singular or wide matrices are DOMAIN ERRORs; complex matrices are not solved.
      ⌹2 2⍴1 2 2 4
DOMAIN ERROR
|      ⌹2 2⍴1 2 2 4
|      ∧
      ⌹2 3⍴1 2 3 4 5 6
DOMAIN ERROR
|      ⌹2 3⍴1 2 3 4 5 6
|      ∧
      ⌹0
DOMAIN ERROR
|      ⌹0
|      ∧
      ⌹2 2 2⍴1
RANK ERROR
|      ⌹2 2 2⍴1
|      ∧
      1 2 3⌹2 2⍴1 2 3 4
LENGTH ERROR
|      1 2 3⌹2 2⍴1 2 3 4
|           ∧
      ⌹2 2⍴1J1 2 3 4
NONCE ERROR
|      ⌹2 2⍴1J1 2 3 4
|      ∧
      ⌹'ab'
DOMAIN ERROR
|      ⌹'ab'
|      ∧
⍝⍝ Size and range: the inverse of a long vector is quick; results too large to exist and floats that
⍝⍝ overflow are errors.
      ⍴⌹⍳100000
100000
      ⍴(100000⍴2)⊤⍳100000
LIMIT ERROR
|      ⍴(100000⍴2)⊤⍳100000
|                 ∧
      1E300 1E300⊥1E300 1
DOMAIN ERROR
|      1E300 1E300⊥1E300 1
|                 ∧
