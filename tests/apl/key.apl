⍝⍝ Key groups the major cells of its keys in order of first appearance; the operand gets each key and
⍝⍝ the cells of B at its occurrences (monadic: the indices of the occurrences), its results are mixed.
      {⍺,≢⍵}⌸'mississippi'
m 1
i 4
s 4
p 2
      'aab'{⍺,≢⍵}⌸1 2 3
a 2
b 1
      'aab'{≢⍵}⌸1 2 3
2 1
      {≢⍵}⌸3 1 4 1 5 9 2 6 5 3 5
2 2 1 3 1 1 1
      {≢⍵}⌸1 0 1 1 0
3 2
      (1 'a' 1 'a' 2){≢⍵}⌸⍳5
2 2 1
      'abcab'⊣⌸⍳5
abc
      ⊣⌸3 1 3 2 1
3 1 2
      ⊢⌸'abcab'
1 4
2 5
3 0
      'abcab'⊢⌸10 20 30 40 50
10 40
20 50
30  0
      'abcab'⊢⌸5 2⍴⍳10
1  2
7  8

3  4
9 10

5  6
0  0
      {⊂⍵}⌸'abcab'
 1 4  2 5  3 
      'abcab'{⊂⍵}⌸'vwxyz'
 vy  wz  x 
      'abcab'{⍺ ⍵}⌸⍳5
a 1 4 
b 2 5 
c 3   
      ⎕IO←0
      {⊂⍵}⌸'abcab'
 0 3  1 4  2 
      ⊢⌸'abcab'
0 3
1 4
2 0
      ⎕IO←1
⍝⍝ Matrix keys group rows; nested keys compare by match.
      (3 2⍴1 2 3 4 1 2){⍺,≢⍵}⌸'xyz'
1 2 2
3 4 1
      (3 2⍴1 2 3 4 1 2)⊢⌸'xyz'
xz
y 
      {⍺,≢⍵}⌸3 2⍴1 2 3 4 1 2
1 2 2
3 4 1
      (2 2 3⍴1 2 3 4 5 6 1 2 3 4 5 7){⍺,≢⍵}⌸1 2
1 2 3 1
4 5 6 1

1 2 3 1
4 5 7 1
      ('ab' 'cd' 'ab'){⍺,≢⍵}⌸1 2 3
 ab  2
 cd  1
      ('ab' 'cd' 'ab')⊣⌸1 2 3
 ab  cd 
⍝⍝ Float keys are equal within ⎕CT, as for =.
      (1,(1+1E¯15),2){≢⍵}⌸'abc'
2 1
      ⎕CT←0
      (1,(1+1E¯15),2){≢⍵}⌸'abc'
1 1 1
      ⎕CT←1E¯14
⍝⍝ The operands answered directly (⊣ ⊢ {≢⍵} {⊂⍵} {⍺,≢⍵}) give what the same dfns give when called.
      ⎕FX 'r←X Forms Y' 'r←((X⊣⌸Y)≡X{⍺⊣⍵}⌸Y),((X⊢⌸Y)≡X{⍵}⌸Y),(X{≢⍵}⌸Y)≡X{(≢⍵)}⌸Y' 'r,←((X{⊂⍵}⌸Y)≡X{(⊂⍵)}⌸Y),(X{⍺,≢⍵}⌸Y)≡X{(⍺,≢⍵)}⌸Y'
Forms
      ⎕FX 'r←Forms1 Y' 'r←((⊣⌸Y)≡{⍺⊣⍵}⌸Y),((⊢⌸Y)≡{⍵}⌸Y),({≢⍵}⌸Y)≡{(≢⍵)}⌸Y' 'r,←(({⊂⍵}⌸Y)≡{(⊂⍵)}⌸Y),({⍺,≢⍵}⌸Y)≡{(⍺,≢⍵)}⌸Y'
Forms1
      'mississippi' Forms ⍳11
1 1 1 1 1
      (3 2⍴1 2 3 4 1 2) Forms 3 2 2⍴⍳12
1 1 1 1 1
      ('ab' 'cd' 'ab' 1) Forms 'wxyz'
1 1 1 1 1
      (0.1 0.2 (0.1+1E¯17) 0.3) Forms 4 1⍴'abcd'
1 1 1 1 1
      (2 2 3⍴1 2 3 4 5 6 1 2 3 4 5 7) Forms 1 2
1 1 1 1 1
      Forms1 'mississippi'
1 1 1 1 1
      Forms1 3 2⍴1 2 3 4 1 2
1 1 1 1 1
      Forms1 'ab' 'cd' 'ab' 1
1 1 1 1 1
      ⎕IO←0
      Forms1 'mississippi'
1 1 1 1 1
      ⎕IO←1
⍝⍝ Defined functions and named dfns as operands.
      ⎕FX 'r←a Sum w' 'r←a,+/w'
Sum
      'abab' Sum⌸ 1 2 3 4
a 4
b 6
      Sum⌸ 'abab'
a 4
b 6
      Tally←{≢⍵}
      'abab' Tally⌸ 1 2 3 4
2 2
⍝⍝ Empty arguments call the operand once on fill items for the shape of the result.
      {≢⍵}⌸⍬

      ⍴{≢⍵}⌸⍬
0
      ⍴{⍺,≢⍵}⌸''
0 2
      ⍴''{⍺ ⍵}⌸⍬
0 2
      ⍴⊢⌸⍬
0 0
      ⍴(0 3⍴0)⊢⌸0 2⍴'a'
0 0 2
      '' Forms ⍬
1 1 1 1 1
      Forms1 ⍬
1 1 1 1 1
⍝⍝ Arguments must have rank 1 or more and the same number of major cells.
      {≢⍵}⌸5
RANK ERROR
|      {≢⍵}⌸5
|         ∧
      5{≢⍵}⌸1
RANK ERROR
|      5{≢⍵}⌸1
|          ∧
      1{≢⍵}⌸,1
RANK ERROR
|      1{≢⍵}⌸,1
|          ∧
      1 2{≢⍵}⌸1 2 3
LENGTH ERROR
|      1 2{≢⍵}⌸1 2 3
|            ∧
      (2 2⍴1){≢⍵}⌸1 2 3
LENGTH ERROR
|      (2 2⍴1){≢⍵}⌸1 2 3
|                ∧
      'ab'{}⌸1 2
VALUE ERROR: No result was provided when the context expected one
|      'ab'{}⌸1 2
|           ∧
