⍝⍝ appending to a variable grows its array where it lies; every other holder keeps the old value
      r←⍬ ⋄ r,←1 ⋄ r,←2.5 ⋄ r,←3 ⋄ r
1 2.5 3
      s←'ab' ⋄ s,←'c' ⋄ s,←'⍺' ⋄ s
abc⍺
      b←1 0 ⋄ b,←1 ⋄ b,←7 ⋄ b
1 0 1 7
      n←1 2 ⋄ n,←⊂'ab' ⋄ n
1 2  ab 
      x←1 2 ⋄ y←x ⋄ x,←3 ⋄ x y
 1 2 3  1 2 
      x←1 2 ⋄ y←x ⋄ x←x,3 ⋄ x y
 1 2 3  1 2 
      x←1 2 ⋄ x←x,x ⋄ x
1 2 1 2
      q←⍳3 ⋄ {q,←⍵}¨4 5
 1 2 3 4  1 2 3 4 5 
      q
1 2 3 4 5
      v←1 ⋄ v,←2 ⋄ v,←32768 ⋄ v,←¯5 ⋄ v
1 2 32768 ¯5
      m←2 2⍴1 ⋄ m,←9 ⋄ m
1 1 9
1 1 9
      ns←⎕NS'' ⋄ ns.v←1 2 ⋄ ns.v←ns.v,3 ⋄ ns.v
1 2 3
⍝⍝ in a dfn, name←name,X makes a local name and leaves the outer array as it was
      r←1 2 ⋄ {r←r,3 ⋄ r}0
1 2 3
      r
1 2
      r←1 2 ⋄ {r,←3 ⋄ r}0
1 2 3
      r
1 2 3
⍝⍝ a loop of appends
      ⎕FX 'r←app n;i' 'r←⍬' ':For i :In ⍳n' 'r←r,i' 'r,←-i' ':EndFor'
app
      (⍴r),+/r←app 10000
20000 0
⍝⍝ an append that fails leaves the variable as it was
      z←1 2 ⋄ z,←3 3⍴1
LENGTH ERROR
|      z,←3 3⍴1
|       ∧
      z
1 2
