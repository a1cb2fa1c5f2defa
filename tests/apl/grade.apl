⍝⍝ Grade up and down: equal items keep their order in both directions.
      ⍋3 1 2 1
2 4 3 1
      ⍒3 1 2 1
1 3 2 4
      ⍋'hello'
2 1 3 4 5
      ⍒'hello'
5 3 4 1 2
      ⍋5
RANK ERROR
|      ⍋5
|      ∧
      ⍋⍬

      ⎕IO←0
      ⍒3 1 2 1
0 2 1 3
      ⎕IO←1
⍝⍝ Every element type: Booleans, integers of each width, floats exactly (¯0 equals 0), characters by code point.
      ⍋1 0 1 1 0
2 5 1 3 4
      ⍒1 0 1 1 0
1 3 4 2 5
      ⍋1000 ¯2 100000 ¯2 0
2 4 5 1 3
      ⍋1.5 ¯0.5 1.5 ¯2E10 0.25
4 2 5 1 3
      ⍋1 1.000000000000001 1
1 3 2
      ⍒0 ¯1,(0×¯1.5),¯1 0
1 3 5 2 4
      ⍋'zaBAé'
4 3 2 1 5
      ⍋0J1×0J1 0J2 0J¯3
2 1 3
      ⍋1J1 2
DOMAIN ERROR
|      ⍋1J1 2
|      ∧
⍝⍝ Major cells compare in ravel order.
      ⍋3 2⍴2 1 1 9 2 0
2 3 1
      ⍒3 2⍴2 1 1 9 2 0
1 3 2
      ⍋4 3⍴'abcabaabcaab'
4 2 1 3
      ⍒4 3⍴'abcabaabcaab'
1 3 2 4
      ⍋3 2 2⍴1 2 3 4 1 2 3 3 1 2 3 4
2 1 3
      ⍋4 9⍴1 0 1 1
2 1 4 3
      ⍋5 0⍴0
1 2 3 4 5
⍝⍝ Long arguments go through counting and radix sorts: the result is a permutation that orders the cells, equal cells by index.
⍝⍝ Booleans
      x←1 0 0 1 1 0 1[1+7|13×⍳7000]
      g←⍋x ⋄ s←x[g] ⋄ (0∊(1↓s)≥¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
      g←⍒x ⋄ s←x[g] ⋄ (0∊(1↓s)≤¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
⍝⍝ 8-bit integers (counting sort)
      x←5 ¯3 0 127 ¯128 5 2[1+7|13×⍳7000]
      g←⍋x ⋄ s←x[g] ⋄ (0∊(1↓s)≥¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
      g←⍒x ⋄ s←x[g] ⋄ (0∊(1↓s)≤¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
⍝⍝ characters (checked through their positions in the sorted alphabet)
      x←'the quick brown fox'[1+19|13×⍳7000] ⋄ k←' bcefhiknoqrtuwx'⍳x
      g←⍋x ⋄ s←k[g] ⋄ (0∊(1↓s)≥¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢k
0 0 1 1
      g←⍒x ⋄ s←k[g] ⋄ (0∊(1↓s)≤¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢k
0 0 1 1
⍝⍝ 16-bit integers (6000 or more: counting sort)
      x←1000 ¯3000 7 32767 ¯32768 1000 5[1+7|13×⍳7000]
      g←⍋x ⋄ s←x[g] ⋄ (0∊(1↓s)≥¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
      g←⍒x ⋄ s←x[g] ⋄ (0∊(1↓s)≤¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
⍝⍝ 32-bit integers (12000 or more: radix sort)
      x←(¯50000+7×⍳13000)×1+1000|⍳13000
      g←⍋x ⋄ s←x[g] ⋄ (0∊(1↓s)≥¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
      g←⍒x ⋄ s←x[g] ⋄ (0∊(1↓s)≤¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
⍝⍝ 32-bit integers with many ties
      x←100000 ¯7 5 100000 ¯2000000000[1+5|13×⍳13000]
      g←⍋x ⋄ s←x[g] ⋄ (0∊(1↓s)≥¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
      g←⍒x ⋄ s←x[g] ⋄ (0∊(1↓s)≤¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
⍝⍝ floats (21000 or more: radix sort)
      x←0.5×¯12500+100|13×⍳25000
      g←⍋x ⋄ s←x[g] ⋄ (0∊(1↓s)≥¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
      g←⍒x ⋄ s←x[g] ⋄ (0∊(1↓s)≤¯1↓s),(0∊((1↓s)≠¯1↓s)∨(1↓g)>¯1↓g),(g≡∪g),(≢g)=≢x
0 0 1 1
⍝⍝ rows of two 8-bit integers
      x←7000 2⍴5 ¯3 0 127 ¯128 5 2[1+7|13×⍳14000]
      g←⍋x ⋄ s←x[g;] ⋄ t←(1↓s[;1])-¯1↓s[;1] ⋄ u←(1↓s[;2])≥¯1↓s[;2] ⋄ (0∊(t>0)∨(t=0)∧u),(0∊(t≠0)∨((1↓s[;2])≠¯1↓s[;2])∨(1↓g)>¯1↓g),g≡∪g
0 0 1
      g←⍒x ⋄ s←x[g;] ⋄ t←(1↓s[;1])-¯1↓s[;1] ⋄ u←(1↓s[;2])≤¯1↓s[;2] ⋄ (0∊(t<0)∨(t=0)∧u),(0∊(t≠0)∨((1↓s[;2])≠¯1↓s[;2])∨(1↓g)>¯1↓g),g≡∪g
0 0 1
⍝⍝ With a collating sequence: characters absent from it sort last, in their order.
      'abc'⍋'cab'
2 3 1
      'abc'⍒'cab'
1 3 2
      'abc'⍋'cxaby'
3 4 1 2 5
      (2 3⍴'abcABC')⍋'CbBaA'
4 5 2 3 1
      'ab'⍋2 2⍴'bbab'
2 1
⍝⍝ Errors.
      ⍋(1 2)(3 4)
DOMAIN ERROR
|      ⍋(1 2)(3 4)
|      ∧
      ⍋1 'a'
DOMAIN ERROR
|      ⍋1'a'
|      ∧
      1 2⍋3 1
DOMAIN ERROR
|      1 2⍋3 1
|         ∧
      'abc'⍋1 2
DOMAIN ERROR
|      'abc'⍋1 2
|           ∧
      'abc'⍋'b'
RANK ERROR
|      'abc'⍋'b'
|           ∧
