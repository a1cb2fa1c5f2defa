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
