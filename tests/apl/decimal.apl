⍝⍝ Decimal floating point (⎕FR 1287): exact decimal sums, 34 significant digits, mixed binary and
⍝⍝ decimal arguments, the ⎕DIV rule, comparisons and tolerant functions with ⎕DCT.
      ⎕PP←17
      0.1+0.2
0.30000000000000004
      ⎕FR←1287
      0.1+0.2
0.3
      (0.1+0.2)=0.3
1
      1 2 3×0.1
0.1 0.2 0.3
      0.1*3
0.001
⍝⍝ A binary64 value meets a decimal one: under ⎕FR 1287 both are decimal (0.1 stays 0.1), under
⍝⍝ ⎕FR 645 both are binary64.
      ⎕FR←645
      f←0.1
      ⎕FR←1287
      d←0.2
      f+d
0.3
      f=0.1
1
      ⎕FR←645
      f+d
0.30000000000000004
      ⎕FR←1287
⍝⍝ 34 digits, rounded half even; integer products stay exact.
      ⎕PP←34
      1÷3
0.3333333333333333333333333333333333
      2÷3
0.6666666666666666666666666666666667
      2*0.5
1.414213562373095048801688724209698
      *1
2.718281828459045235360287471352662
      10⍟1000
3
      !25
1.5511210043330985984E25
⍝⍝ Division by zero follows ⎕DIV.
      1÷0
DOMAIN ERROR: Divide by zero
|      1÷0
|       ∧
      0÷0
1
      ÷0
DOMAIN ERROR: Divide by zero
|      ÷0
|      ∧
      ⎕DIV←1
      1÷0
0
      ÷0
0
      ⎕DIV←0
⍝⍝ Comparisons with ⎕DCT (default 1E¯28).
      1=1+1E¯29
1
      1<1+1E¯29
0
      1≥1+1E¯29
1
      1=1+1E¯27
0
      ⎕DCT←0
      1=1+1E¯29
0
      1<1+1E¯29
1
      ⎕DCT←1E¯28
⍝⍝ Floor, ceiling and residue are tolerant with ⎕DCT.
      ⌊2.5 ¯2.5
2 ¯3
      ⌈2.5 ¯2.5
3 ¯2
      ⌊2.99999999999999999999999999999999
3
      ⎕DCT←0
      ⌊2.99999999999999999999999999999999
2
      ⎕DCT←1E¯28
      3|¯1 7.5
2 1.5
      0.1|1
0
      0.2∨0.3
0.1
      0.5∧0.2
1
      ×¯2.5 0 3
¯1 0 1
      -0.5
¯0.5
      |¯2.5
2.5
⍝⍝ Results that are complex come from the complex kernels; results too large for decimal128 and
⍝⍝ arguments outside a function's domain are DOMAIN ERRORs.
      ⍟¯1
0J3.141592653589793
      ¯8*÷3
1J1.732050807568877
      1E6144×10
DOMAIN ERROR
|      1E6144×10
|            ∧
      !5000
DOMAIN ERROR
|      !5000
|      ∧
      !¯1
DOMAIN ERROR
|      !¯1
|      ∧
      13○1
DOMAIN ERROR
|      13○1
|        ∧
