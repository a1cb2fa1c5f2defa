⍝⍝ Long runs of the scalar functions on mixed types: integer and Boolean arguments are widened a block
⍝⍝ at a time for binary64 and complex kernels; every element matches the same function applied alone
      a←¯5000+?300001⍴10000
      b←1+?300001⍴97
      m←300001⍴1 0 0 1 1
      (a÷b)≡a÷¨b
1
      (m÷b)≡m÷¨b
1
      (a<b+0.5)≡a<¨b+0.5
1
      ((a÷7)×m)≡(a÷7)×¨m
1
      (a×0J1)≡a×¨0J1
1
⍝⍝ 1111⌶ sets the number of threads and gives the previous number (⍬ asks for the processor count);
⍝⍝ 1112⌶ sets the length from which a run is shared between threads
      old←1111⌶2 ⋄ 1111⌶old
2
      (1111⌶⍬)≥1
1
      1111⌶0
DOMAIN ERROR
|      1111⌶0
|      ∧
      t←1112⌶5000 ⋄ 1112⌶t
5000
      1112⌶0.5
DOMAIN ERROR
|      1112⌶0.5
|      ∧
