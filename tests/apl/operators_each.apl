⍝⍝ Each: the operand applied to every item, results in the argument's shape
      ⍴¨'ab' 'cde' ''
 2  3  0 
      {⍵+1}¨1 2 3
2 3 4
      {⍵,⍵}¨2 2⍴⍳4
 1 1  2 2 
 3 3  4 4 
      1 2 3{⍺⍴⍵}¨'abc'
 a  bb  ccc 
⍝⍝ Single items extend; the shape comes from the other argument
      2{⍺⍴⍵}¨'ab' 'cd'
 ab  cd 
      (⊂1 2),¨3 4
 1 2 3  1 2 4 
      (1 1⍴5){⍺+⍵}¨1 2 3
6 7 8
⍝⍝ Scalar functions apply item by item anyway
      ≢¨'ab' 'cde'
2 3
      +¨(1 2)(3 4)
 1 2  3 4 
      1 2-¨(10 20)(30 40)
 ¯9 ¯19  ¯28 ¯38 
⍝⍝ Nested results, and each of each
      ⍳¨1 2 3
 1  1 2  1 2 3 
      ⍴¨¨('ab' 'c')('def' 'gh' 'i')
  2      3  2    
⍝⍝ Empty arguments: the result's prototype comes from the operand applied to the prototypes
      ⍴{⍵+1}¨⍬
0
      ⍴¨⍬

      ⍴⊃⍴¨⍬
0
      ⍴¨0⍴⊂'abc'

⍝⍝ Errors
      1 2{⍺+⍵}¨1 2 3
LENGTH ERROR
|      1 2{⍺+⍵}¨1 2 3
|             ∧
      (2 2⍴1){⍺+⍵}¨1 2 3 4
RANK ERROR
|      (2 2⍴1){⍺+⍵}¨1 2 3 4
|                 ∧
      2¨1 2
SYNTAX ERROR
|      2¨1 2
|      ∧
      {}¨1 2
VALUE ERROR: No result was provided when the context expected one
|      {}¨1 2
|       ∧
