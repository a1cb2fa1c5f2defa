⍝⍝ Code points: monadic ⎕UCS and 'UTF-32' keep the argument's shape, either way.
      ⎕UCS 'A'
65
      ⎕UCS 65 66
AB
      ⎕UCS 2 3⍴'abcdef'
 97  98  99
100 101 102
      ⎕UCS 2 2⍴9731 120120 65 66
☃𝔸
AB
      x←'aé€',⎕UCS 128512 1114111 0
      x≡⎕UCS ⎕UCS x
1
      (⎕UCS x)≡'UTF-32' ⎕UCS x
1
      (⎕UCS ⎕UCS x)≡'UTF-32' ⎕UCS 'UTF-32' ⎕UCS x
1
⍝⍝ An empty argument gives an empty result of the other kind, of the same shape.
      (⍬≡⎕UCS '')(''≡⎕UCS ⍬)(⍴⎕UCS 2 0⍴'')
1 1  2 0 
      (0=⊃0⍴⎕UCS 0⍴'')(' '=⊃0⍴⎕UCS ⍬)
1 1
⍝⍝ Whole numbers held as floating-point numbers are read as integers; others are refused below.
      y←0.5×130 132 ⋄ ⎕UCS y
AB
⍝⍝ Numbers that are not code points, and nested arrays.
      ⎕UCS 1114112
DOMAIN ERROR
|      ⎕UCS 1114112
|      ∧
      ⎕UCS ¯1
DOMAIN ERROR
|      ⎕UCS ¯1
|      ∧
      ⎕UCS 65.5
DOMAIN ERROR
|      ⎕UCS 65.5
|      ∧
      y←65 66.5 ⋄ ⎕UCS y
DOMAIN ERROR
|      ⎕UCS y
|      ∧
      ⎕UCS 65J1
DOMAIN ERROR
|      ⎕UCS 65J1
|      ∧
      ⎕UCS 'ab' 'c'
DOMAIN ERROR
|      ⎕UCS'ab' 'c'
|      ∧
      ⎕UCS 65 (66 67)
DOMAIN ERROR
|      ⎕UCS 65(66 67)
|      ∧
⍝⍝ Dyadic: the left argument names the encoding; the right one is a simple scalar or vector.
      'UTF-7' ⎕UCS 'a'
DOMAIN ERROR
|      'UTF-7'⎕UCS'a'
|             ∧
      'utf-8' ⎕UCS 'a'
DOMAIN ERROR
|      'utf-8'⎕UCS'a'
|             ∧
      8 ⎕UCS 'a'
DOMAIN ERROR
|      8 ⎕UCS'a'
|        ∧
      (2 5⍴'UTF-8') ⎕UCS 'a'
DOMAIN ERROR
|      (2 5⍴'UTF-8')⎕UCS'a'
|                   ∧
      'UTF-8' ⎕UCS 2 2⍴'abcd'
RANK ERROR
|      'UTF-8'⎕UCS 2 2⍴'abcd'
|             ∧
      'UTF-32' ⎕UCS 2 2⍴65
RANK ERROR
|      'UTF-32'⎕UCS 2 2⍴65
|              ∧
      'UTF-8' ⎕UCS 'ab' 'c'
DOMAIN ERROR
|      'UTF-8'⎕UCS'ab' 'c'
|             ∧
⍝⍝ UTF-8 encoding by the table, one to four bytes for the characters that exist.
      'UTF-8' ⎕UCS '€'
226 130 172
      'UTF-8' ⎕UCS 'A'
65
      'UTF-8' ⎕UCS ⎕UCS 0 127 128 2047 2048 65535 65536 1114111
0 127 194 128 223 191 224 160 128 239 191 191 240 144 128 128 244 143 191
|      191
      'UTF-8' ⎕UCS ''

⍝⍝ UTF-8 decoding.
      'UTF-8' ⎕UCS 226 130 172
€
      ⎕UCS 'UTF-8' ⎕UCS 240 159 152 128 65 194 169
128512 65 169
      'UTF-8' ⎕UCS ⍬

⍝⍝ Text of 8-bit characters is made one character per byte and cut to its length.
      (⍴r)(r←'UTF-8' ⎕UCS 71 114 195 182 195 159 101 32 99 97 102 195 169)
 10  Größe café 
      z←0.5×452 260 344 ⋄ 'UTF-8' ⎕UCS z
€
⍝⍝ Every bad sequence: truncated, a continuation byte first, overlong forms, a bad continuation
⍝⍝ byte, beyond 1,114,111 (four, five and six bytes), FE and FF, and numbers that are not bytes.
      'UTF-8' ⎕UCS 226 130
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 226 130
|             ∧
      ⎕DMX.EN ⋄ ⎕DMX.ENX ⋄ ⎕DMX.Category ⋄ ⎕DMX.Message
11
68
General
Invalid UTF-8 sequence
      'UTF-8' ⎕UCS 65 130
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 65 130
|             ∧
      'UTF-8' ⎕UCS 192 128
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 192 128
|             ∧
      'UTF-8' ⎕UCS 224 128 128
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 224 128 128
|             ∧
      'UTF-8' ⎕UCS 240 130 130 172
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 240 130 130 172
|             ∧
      'UTF-8' ⎕UCS 226 65 172
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 226 65 172
|             ∧
      'UTF-8' ⎕UCS 244 144 128 128
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 244 144 128 128
|             ∧
      'UTF-8' ⎕UCS 248 136 128 128 128
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 248 136 128 128 128
|             ∧
      'UTF-8' ⎕UCS 252 132 128 128 128 128
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 252 132 128 128 128 128
|             ∧
      'UTF-8' ⎕UCS 254
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 254
|             ∧
      'UTF-8' ⎕UCS 255
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 255
|             ∧
      'UTF-8' ⎕UCS 65 256
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 65 256
|             ∧
      'UTF-8' ⎕UCS 65 ¯1
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 65 ¯1
|             ∧
      'UTF-8' ⎕UCS 65.5
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 65.5
|             ∧
      'UTF-8' ⎕UCS 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 226 130
DOMAIN ERROR: Invalid UTF-8 sequence
|      'UTF-8'⎕UCS 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 226 130
|             ∧
⍝⍝ Surrogate code points have three-byte forms like any other character below 65,536.
      'UTF-8' ⎕UCS ⎕UCS 55296
237 160 128
      ⎕UCS 'UTF-8' ⎕UCS 237 160 128
55296
⍝⍝ Round trips over long texts, where runs of ASCII meet multi-byte characters at every position.
      t←⎕UCS 1114112|(⍳3000)*3
      t≡'UTF-8' ⎕UCS 'UTF-8' ⎕UCS t
1
      (⍴'UTF-8' ⎕UCS t)≡,(≢t)++/,(⎕UCS t)∘.≥128 2048 65536
1
      a←∊(⍳40)⍴¨⊂'abcdefghij€'
      a≡'UTF-8' ⎕UCS 'UTF-8' ⎕UCS a
1
⍝⍝ Latin-1 text (bytes as 16-bit integers, leads C2 and C3) decodes sixteen bytes at a time: every
⍝⍝ character below 256 at every offset round-trips, and a fault at any offset within or between
⍝⍝ blocks is found (a lone continuation byte, a lead before a lead or ASCII, an overlong C0, a lead
⍝⍝ at the end).
      l←⎕UCS 256|(⍳700)*2
      l≡'UTF-8' ⎕UCS 'UTF-8' ⎕UCS l
1
      b←'UTF-8' ⎕UCS 40⍴'aé' ⋄ bad←{0::1 ⋄ 0⊣'UTF-8' ⎕UCS ⍵} ⋄ at←¯1+⍳60
      +/¨(bad¨{(⍵↑b),169,⍵↓b}¨at)(bad¨{(⍵↑b),195,⍵↓b}¨at)(bad¨{(⍵↑b),192 128,⍵↓b}¨at)(bad¨{(⍵↑b),195}¨at)
60 60 60 60
⍝⍝ UTF-16.
      'UTF-16' ⎕UCS ⎕UCS 128512
55357 56832
      'UTF-16' ⎕UCS 'A€'
65 8364
      ⎕UCS 'UTF-16' ⎕UCS 55357 56832 65
128512 65
      'UTF-16' ⎕UCS 55357 65
DOMAIN ERROR
|      'UTF-16'⎕UCS 55357 65
|              ∧
      'UTF-16' ⎕UCS 65 55357
DOMAIN ERROR
|      'UTF-16'⎕UCS 65 55357
|              ∧
      'UTF-16' ⎕UCS ¯1
DOMAIN ERROR
|      'UTF-16'⎕UCS ¯1
|              ∧
      'UTF-16' ⎕UCS 1114112
DOMAIN ERROR
|      'UTF-16'⎕UCS 1114112
|              ∧
⍝⍝ A low surrogate on its own is a character, as is every unit that is not a high surrogate.
      ⎕UCS 'UTF-16' ⎕UCS 56832 65
56832 65
      u←t~⎕UCS 55296+⍳2048
      u≡'UTF-16' ⎕UCS 'UTF-16' ⎕UCS u
1
      'UTF-16' ⎕UCS ⍬

