⍝⍝ Complex numbers, and real arguments whose results are complex.
      1J2+3J4
4J6
      1J2×3J4
¯5J10
      1J2÷3J4
0.44J0.08
      |3J4
5
      ×3J4
0.6J0.8
      +1J2
1J¯2
      -1J2
¯1J¯2
      0J1×0J1
¯1
      ¯8*÷3
1J1.732050808
      ⍟¯1
0J3.141592654
      ¯1*0.5
0J1
      ¯1○2
1.570796327J¯1.316957897
      0○2
0J1.732050808
      4○3J4
3.060933988J3.920372033
      2J1=2J1.00000000000001
1
      1J1 2=1J1 2J1
1 0
      3J4⌊5
DOMAIN ERROR
|      3J4⌊5
|         ∧
      ⌊1.5J2.5
2J2
