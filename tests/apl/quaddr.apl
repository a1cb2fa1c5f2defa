⍝⍝ ⎕DR: the type code of what an array holds, and its bits read as another type, row by row.
      ⎕DR¨ 1 0 1 (1 2 3) (1000 2000) 100000 1.5 'abc' '⍳' (⊂1 2) 0J1 ('a' 1) (⍳0)
11 11 11 83 163 323 645 80 160 326 1289 326 83
      83 ⎕DR 'abc'
97 98 99
      80 ⎕DR 97 98 99
abc
      11 ⎕DR 83 ⎕DR 'ab'
0 1 1 0 0 0 0 1 0 1 1 0 0 0 1 0
      83 ⎕DR 11 ⎕DR 83 ⎕DR 'ab'
97 98
      323 ⎕DR 2 4⍴83 ⎕DR 'abcdefgh'
1684234849
1751606885
      645 ⎕DR 323 ⎕DR 1.5 ¯2.25
1.5 ¯2.25
      ⍴163 ⎕DR 3 0⍴'x'
3 0
      83 ⎕DR 1 0 1
DOMAIN ERROR
|      83 ⎕DR 1 0 1
|         ∧
      645 ⎕DR 83 ⎕DR 8⍴¯1
DOMAIN ERROR
|      645 ⎕DR 83 ⎕DR 8⍴¯1
|          ∧
      163 ⎕DR 'abc'
DOMAIN ERROR
|      163 ⎕DR'abc'
|          ∧
      999 ⎕DR 1
DOMAIN ERROR
|      999 ⎕DR 1
|          ∧
      83 ⎕DR ⊂1 2
DOMAIN ERROR
|      83 ⎕DR⊂1 2
|         ∧
      320 ⎕DR 1114112
DOMAIN ERROR
|      320 ⎕DR 1114112
|          ∧
