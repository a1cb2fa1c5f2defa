⍝⍝ Compression with 219⌶ (header and data as a pair) and 2194⌶ (one byte vector): round trips through
⍝⍝ each library, serialised content, the header bytes, and every refusal of arguments and data.
      r←2(219⌶)⎕UCS 'hello hello hello'
      ⊃r
8 ¯55 2 0 0 0 0 17
      ⎕UCS 0(219⌶)r
hello hello hello
      (1 2 3 4 5 6 7 8 9 10)≡¯2(219⌶)⊃⌽2(219⌶)⍳10
1
      m←1(219⌶)3 4⍴'abcdefghijkl' ⋄ 4⊃⊃m
1
      0(219⌶)m
abcd
efgh
ijkl
      x←(⍳10) 'nested' (⊂2 2⍴0.5) ⋄ {x≡0(2194⌶)⍵(2194⌶)x}¨1 2 3 (2 9) (3 0)
1 1 1 1 1
      v←⎕UCS 1000⍴'abc' ⋄ (≢v)>≢1(2194⌶)v
1
      0(219⌶)1(219⌶)1 0 1
1 0 1
      0(2194⌶)1(2194⌶)⍬

      1 5(219⌶)1 2
LENGTH ERROR: Compression level cannot be specified for this compression library
|      1 5(219⌶)1 2
|         ∧
      2 10(219⌶)1 2
DOMAIN ERROR: Invalid compression level
|      2 10(219⌶)1 2
|          ∧
      2 1.5(219⌶)1 2
DOMAIN ERROR: Invalid compression level
|      2 1.5(219⌶)1 2
|           ∧
      4(219⌶)1 2
DOMAIN ERROR: Invalid compression library
|      4(219⌶)1 2
|       ∧
      0 1(219⌶)1 2
LENGTH ERROR: Invalid left argument
|      0 1(219⌶)1 2
|         ∧
      (1 2⍴1 2)(219⌶)3
RANK ERROR: Invalid left argument
|      (1 2⍴1 2)(219⌶)3
|               ∧
      ⍬(219⌶)3
LENGTH ERROR: Invalid left argument
|      ⍬(219⌶)3
|       ∧
      0(219⌶)(8 0 2 0 0 0 0 1) (1 2 3)
DOMAIN ERROR: Invalid compressed data
|      0(219⌶)(8 0 2 0 0 0 0 1)(1 2 3)
|       ∧
      0(219⌶)(8 ¯55 7 0 0 0 0 1) (1 2 3)
DOMAIN ERROR: Invalid compression library
|      0(219⌶)(8 ¯55 7 0 0 0 0 1)(1 2 3)
|       ∧
      0(219⌶)(8 ¯55 2 0 0 0 0 1) (1 2 3)
DOMAIN ERROR: Invalid compressed data and/or mismatched left argument
|      0(219⌶)(8 ¯55 2 0 0 0 0 1)(1 2 3)
|       ∧
      0(219⌶)1 2 3
DOMAIN ERROR: Invalid compressed data
|      0(219⌶)1 2 3
|       ∧
      0(219⌶)2 2⍴⊂1 2
RANK ERROR: Invalid compressed data
|      0(219⌶)2 2⍴⊂1 2
|       ∧
      0(2194⌶)''
DOMAIN ERROR: Invalid compressed data
|      0(2194⌶)''
|       ∧
      ¯1(219⌶)1 2 3
DOMAIN ERROR: Invalid compressed data and/or mismatched left argument
|      ¯1(219⌶)1 2 3
|        ∧
