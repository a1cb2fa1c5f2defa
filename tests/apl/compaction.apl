⍝⍝ Lines whose evaluation once read pockets from where they stood before a compaction. The transcripts
⍝⍝ also run with -DKS, which compacts at every allocation, and these lines failed there.
⍝⍝
⍝⍝ Prototypes of nested arrays (empty results and fills)
      ⍴0⍴(⊂⊂⊂1 2)
0
      ≡1↓(⊂⊂⊂1 2)
4
      ⍴(2 0⍴'')({⍺,⍵}¨)(1 1⍴1)
2 0
      ⍴(0⍴⊂'ab')∘.,((1 2) 'x' (⊂⍳3))
0 3
      ⍴(0⍴0.5)(⊂⍤1¨)(0⍴⊂'ab')
0
⍝⍝ Scalar functions on nested arguments
      (1 'a')=1 'b'
1 0
      (1 2)(3 4)+(1 2 3)(4 5)
LENGTH ERROR
|      (1 2)(3 4)+(1 2 3)(4 5)
|                ∧
⍝⍝ Selective assignment
      B←⍳5 ⋄ (⌽B)←⍳5 ⋄ B
5 4 3 2 1
      x←1 2 3 ⋄ (2↑x)←⊂'ab' ⋄ x
 ab  ab  3
⍝⍝ A trap around a function that an operator calls
      ⎕FX 'r←TrapEach' 'r←0' ':Trap 11' 'r←{÷0}¨1' ':Else' 'r←⎕EN' ':EndTrap'
TrapEach
      TrapEach
11
