⍝⍝ Binomials A!B. Whole arguments: the usual coefficients, extended to negative ones; exact while
⍝⍝ the result fits 53 bits, DOMAIN ERROR where it overflows, and immediate however large A is.
      3!5
10
      2!¯3
6
      ¯2!¯1
¯1
      1!¯1
¯1
      ¯1!3
0
      0!¯1E20
1
      ⎕PP←17
      28!56
7648690600760440
      510!1020
2.8062677682996257E305
      ⎕PP←10
      515!1030
DOMAIN ERROR
|      515!1030
|         ∧
      1E15!¯1E20
DOMAIN ERROR
|      1000000000000000!¯1E20
|                      ∧
      1E9!¯1E20
DOMAIN ERROR
|      1000000000!¯1E20
|                ∧
      1E299!1E300
DOMAIN ERROR
|      1E299!1E300
|           ∧
      1E300!1E300
1
      ¯1E15!1E15
0
⍝⍝ Other arguments through the gamma function: exact where the quotient is, precise when the
⍝⍝ arguments are huge and nearly cancel, 0 at a pole of the denominator, DOMAIN ERROR at one of the
⍝⍝ numerator.
      0.5!0.5
1
      1.5!3.5
4.375
      0.5!1E15
35682482.32
      ¯1.5!1E15
¯8.920620581E¯24
      1000000000000001.5!1E15
¯8.920620581E¯24
      0.3!¯1000000000000000.5
20710.87312
      ¯1!¯1.5
0
      ¯1.5!¯1
DOMAIN ERROR
|      ¯1.5!¯1
|          ∧
⍝⍝ Large arrays of the costliest cases.
      ⍴(1E5⍴500)!1000
100000
      ⍴(1E5⍴0.5)!1E15+⍳1E5
100000
