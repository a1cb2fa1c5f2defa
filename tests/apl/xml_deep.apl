⍝⍝ Deep nesting costs no C++ stack, both ways.
      n←100000
      deep←∊(n⍴⊂'<a>'),'x',n⍴⊂'</a>'
      ⍴r←⎕XML deep
100000 5
      r[n;]
99999  a  x    5
      ⎕EX 'r' 'deep'
      n←20000
      r←⎕XML ∊(n⍴⊂'<a>'),'x',n⍴⊂'</a>'
      r≡⎕XML ⎕XML r
1
      ⎕XML ∊n⍴⊂'<a>'
DOMAIN ERROR: Tag imbalance at end of text
|      ⎕XML∊n⍴⊂'<a>'
|      ∧
