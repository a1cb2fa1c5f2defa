⍝⍝ * and ⍟ of binary64 arrays: the same values whether an element stands alone or in a long run
⍝⍝ (runs of 8 or more go through the vector library, in blocks with a partial last vector)
      x←¯30+0.37×⍳41
      (*x)≡*¨x
1
      (⍟|x)≡⍟¨|x
1
      ∧/(|1-(⍟*x)÷x)<1E¯13
1
      *0 1 2 3 4 5 6 7 8 9 10
1 2.718281828 7.389056099 20.08553692 54.59815003 148.4131591 403.4287935
|      1096.633158 2980.957987 8103.083928 22026.46579
      ⍟1 2 3 4 5 6 7 8 9 10 11
0 0.6931471806 1.098612289 1.386294361 1.609437912 1.791759469 1.945910149
|      2.079441542 2.197224577 2.302585093 2.397895273
      *¯800 0 0 0 0 0 0 0 0
0 1 1 1 1 1 1 1 1
⍝⍝ overflow anywhere in a run is DOMAIN ERROR
      *0 0 0 0 0 0 0 0 0 710
DOMAIN ERROR
|      *0 0 0 0 0 0 0 0 0 710
|      ∧
      *710 0 0 0 0 0 0 0 0 0
DOMAIN ERROR
|      *710 0 0 0 0 0 0 0 0 0
|      ∧
⍝⍝ a negative element gives complex logarithms, 0 a DOMAIN ERROR
      ⍟1 1 1 1 1 1 1 1 ¯1
0 0 0 0 0 0 0 0 0J3.141592654
      ⍟1 1 1 1 1 1 1 1 1 0
DOMAIN ERROR
|      ⍟1 1 1 1 1 1 1 1 1 0
|      ∧
      ⍟0 1 1 1 1 1 1 1 1
DOMAIN ERROR
|      ⍟0 1 1 1 1 1 1 1 1
|      ∧
