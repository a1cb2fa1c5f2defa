⍝⍝ / ⌿ \ ⍀ standing alone as the operand of an operator are replicate and expand
      'abc'/⍨1 0 1
ac
      (2 3⍴⍳6)⌿⍨0 1
4 5 6
      'ab'\⍨1 0 1
a b
      1 2/¨'ab'
 a  bb 
      f←/⍨
      'abc' f 1 0 1
ac
      f
/⍨
⍝⍝ with a function to its left the slash is still reduction or scan inside the operand
      +/¨(1 2)(3 4 5)
3 12
      +\¨(1 2)(3 4)
 1 3  3 7 
⍝⍝ ⍎ as an operand runs each text in turn; an error shows the text that failed
      ⍎¨'1+1' '2×3'
2 6
      ⍎¨'x←5' 'x+1'
5 6
      {⍎⍵}¨'1' '2 3'
1  2 3 
      ⍎¨'1÷0' '2'
DOMAIN ERROR: Divide by zero
|      1÷0
|       ∧
      ⍎¨'' '1'
VALUE ERROR: No result was provided when the context expected one
|      ⍎¨'' '1'
|      ∧
⍝⍝ an operator's array operand is the whole strand left of it
      1 2∘+ 3
4 5
      (1 2∘+) 3
4 5
      x←3 ⋄ 1 x∘, 5
1 3 5
      ('a' 'b' ⎕R ('1' '2')) 'ab'
12
      'a' 'b'⎕R('1' '2')⊢'ab'
12
