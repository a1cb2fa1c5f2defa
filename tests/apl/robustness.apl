⍝⍝ Faults that once ended the session: each line must give a value or an APL error, and the session
⍝⍝ goes on. ⎕WA compacts the heap, which is where several of them struck.
⍝⍝
⍝⍝ Boolean arrays of no or one item survive compaction and keep their values
      x←⍬=⍬ ⋄ y←⊃1 0 ⋄ z←0/1 0 1 ⋄ w←''='a' ⋄ v←1↑1 0 1
      a←⎕WA
      (⍴¨x z w v)(x≡⍬)(y)(v)
  0  0  0  1   1 1  1 
      ⎕NC 0⍴1 0
DOMAIN ERROR
|      ⎕NC 0⍴1 0
|      ∧
      ⎕EX 1⍴1 0
DOMAIN ERROR
|      ⎕EX 1⍴1 0
|      ∧
      ⎕SIGNAL 0⍴1 0
⍝⍝ :For and :Select keep their records through a compaction inside the block
      ⎕FX 'r←ForAlloc' 'r←0' ':For i :In 1 2' 'x←⍳1000000' 'a←⎕WA' 'r←r+i' ':EndFor'
ForAlloc
      ForAlloc
3
      ⎕FX 'r←SelectAlloc' ':Select 3' ':Case ≢⍳1000000' 'r←1' ':Case 3+0×⎕WA' 'r←2' ':EndSelect'
SelectAlloc
      SelectAlloc
2
      ⎕FX 'r←Build n' 'r←⍬' ':For i :In ⍳n' 'r,←⊂i 2' ':If 0=1000|i' 'a←⎕WA' ':EndIf' ':EndFor'
Build
      (⍴Build 20000)(⊃⌽Build 3000)
 20000  3000 2 
⍝⍝ Selective assignment that selects only fill positions leaves the array as it was
      X←2 ⋄ (⊃¨1↓X)←7 ⋄ X
2
      x←'' ⋄ (1↑x)←5 ⋄ x≡''
1
      x←⍬ ⋄ (1↑x)←⊂⍬ ⋄ x≡⍬
1
      x←1 2 ⋄ (3↑x)←7 8 9 ⋄ x
7 8
⍝⍝ :Trap takes an error raised in a function that an operator calls, also after a compaction moved
⍝⍝ the frames (a WS FULL always follows one)
      ⎕FX 'r←TrapEach' 'r←0' ':Trap 0' 'r←{⍳1e9}¨1' ':Else' 'r←⎕EN' ':EndTrap'
TrapEach
      ⎕FX 'r←TrapMoved' 'r←0' ':Trap 11' 'r←{x←⎕WA ⋄ ÷0}¨1' ':Else' 'r←⎕EN' ':EndTrap'
TrapMoved
      (TrapEach)(TrapMoved)(⍴⎕SI)
1 11  0 
      ⎕FX 'r←TrapOne' 'r←0' ':Trap 1' 'x←⍬' ':While 1' 'x,←⊂⍳10000' ':EndWhile' ':Else' 'r←⎕EN' ':EndTrap'
TrapOne
      TrapOne
1
      ⎕EX 'x'
⍝⍝ Derived functions nested far deeper than the C++ stack can follow stop with an error
      f←⍎'+',(30000⍴'¨')
      f 1
LIMIT ERROR: Function tree too deep or contains cycle
|      f 1
|      ∧
      f
LIMIT ERROR: Function tree too deep or contains cycle
|      f
|      ∧
      {0::⎕EN ⋄ f/⍵}1 2
10
      g←⊢ ⋄ {}{⍎'g←g⍨' ⋄ 0}¨⍳100000
      g 1
LIMIT ERROR: Function tree too deep or contains cycle
|      g 1
|      ∧
      ⎕EX 'f' 'g'
⍝⍝ A nested array 100,000 levels deep
      x←⊂⍣100000⊢1 2
      (≡x)(x≡x)(⍴∊x)
100001 1  2 
      ⎕EX 'x'
⍝⍝ A line that cannot be scanned is shown as typed; text given to ⍎ that cannot be scanned fails at ⍎
      a←1 ⋄ b←1E999999
DOMAIN ERROR
|      a←1 ⋄ b←1E999999
|      ∧
      2+⍎'1E999999'
DOMAIN ERROR
|      2+⍎'1E999999'
|        ∧
      ⎕FX 'r←ExecBad' 'r←2+⍎''1E999999'''
ExecBad
      ExecBad
DOMAIN ERROR
ExecBad[1]r←2+⍎'1E999999'
|              ∧
      →
      {0::⎕EN ⋄ ⍎'1E999999'}0
11
⍝⍝ A signalled message is cut to 127 characters, as every message is
      (1000⍴'ab')⎕SIGNAL 500
abababababababababababababababababababababababababababababababababababababababababababababababababababababababababababababababa
|      (1000⍴'ab')⎕SIGNAL 500
|                 ∧
      (≢⎕EM 500),(≢⎕DMX.EM),(≢⊃⎕DM)
9 127 127
⍝⍝ Working storage outside the workspace that runs out is WS FULL, and can be trapped
      x←1000000000 0⍴0
      x
WS FULL
|      x
|      ∧
      {1::⎕EN ⋄ ⎕←⍵⌿2 0⍴''}2147483647
1
⍝⍝ Name-class codes far out of range mark nothing
      (⍴⎕NL ¯2E10)(⍴⎕NL 2E10)
 0  0 0 
