⍝⍝ Dyadic ⍕: width and decimals for every column, or one pair for each group of columns.
      show←{'|',⍵,'|'}
⍝⍝ One number: decimals, each column as wide as its widest number and one blank.
      show 2⍕3.14159 ¯2 100
|| 3.14 ¯2.00 100.00|
      show 0⍕2.5 ¯2.5 0.49 ¯0.001
|| 3 ¯3 0 0|
      show 2⍕2 2⍴1 ¯20.125 300 0.004
||   1.00 ¯20.13|
|| 300.00   0.00|
      show 1⍕1 0 1
|| 1.0 0.0 1.0|
⍝⍝ Rounding is half up on the shortest digits.
      show 2⍕2.675 1.005 0.125
|| 2.68 1.01 0.13|
⍝⍝ A width and decimals; a number too wide for the width fills it with asterisks.
      show 8 2⍕3.14159 ¯2 100
||    3.14   ¯2.00  100.00|
      show 4 1⍕123.45 ¯9.99 99.94
||********99.9|
      show 6 0⍕123456 1234567 ¯12345 ¯123456
||123456******¯12345******|
⍝⍝ Pairs per column group, applied in turn; negative decimals give exponential form with that many
⍝⍝ significant digits.
      show 5 0 8 2⍕2 2⍴1 2.5 3 4.25
||    1    2.50|
||    3    4.25|
      show 3 0 6 1⍕2 4⍴⍳8
||  1   2.0  3   4.0|
||  5   6.0  7   8.0|
      show ¯3⍕12345 0.01 ¯0.5
|| 1.23E4 1.00E¯2 ¯5.00E¯1|
      show ¯2⍕2 2⍴1 ¯20 300 0.004
|| 1.0E0 ¯2.0E1 |
|| 3.0E2  4.0E¯3|
      show 10 ¯2⍕1E100 ¯1E¯100
||   1.0E100 ¯1.0E¯100|
⍝⍝ Integers, Booleans, decimals and scalars; the leading axes of higher ranks stay.
      show 3⍕¯5 0 7
|| ¯5.000 0.000 7.000|
      show 7 3⍕1=1 0
||  1.000  0.000|
      ⍴2⍕5
5
      ⍴2⍕2 3 4⍴1.5
2 3 20
      ⎕FR←1287
      show 25 20⍕0.1
||   0.10000000000000000000|
      ⎕FR←645
⍝⍝ Empty arguments.
      ⍴2⍕⍳0
0
      ⍴5 2⍕0 3⍴0
0 15
      ⍴⍬⍕0 0⍴0
0 0
⍝⍝ Errors: a left argument of rank 2, an odd count above 1, columns that are not a multiple of the
⍝⍝ pairs, a negative or non-integral width, characters or nested values.
      (2 2⍴1)⍕1
RANK ERROR
|      (2 2⍴1)⍕1
|             ∧
      1 2 3⍕1
LENGTH ERROR
|      1 2 3⍕1
|           ∧
      f←{0::⎕EN ⋄ ⍺⍕⍵}
      (5 2 6 1 f 1 2 3),(⍬ f 1 2),(¯1 2 f 1),(1.5 f 1),(2 f 'a'),('a' f 1),(2 f (1 2)(3 4)),(2 f 1J2)
5 5 11 11 11 11 11 11
