⍝⍝ Roll and deal under Lehmer's generator are the same after every reset of ⎕RL, which holds the state.
      ⎕RL←16807 ⋄ ?10 10 10
2 8 5
      ⎕RL
984943658
      ⎕RL←16807 ⋄ a←?1000 ⋄ ⎕RL←16807 ⋄ a=?1000
1
      ⎕RL←16807 ⋄ 5?100
14 76 47 55 26
      x←?0 ⋄ (x>0)∧(x<1)∧645=⎕DR x
1
      ?1 ⋄ ⎕IO←0 ⋄ ?1 ⋄ ⎕IO←1
1
0
      x←10?10 ⋄ (⍳10)≡x[⍋x]
1
      x←5?1000000 ⋄ (⍴x),∧/(x≥1)∧x≤1000000
5 1
      ⍴?2 3⍴6
2 3
      ⍴0?0
0
      ⎕RL←0 ⋄ (⎕RL≥1)∧⎕RL≤2147483646
1
⍝⍝ Refusals.
      ?¯1
DOMAIN ERROR: Roll right argument must consist of non-negative integer(s)
|      ?¯1
|      ∧
      ?1.5
DOMAIN ERROR: Roll right argument must consist of non-negative integer(s)
|      ?1.5
|      ∧
      ?'a'
DOMAIN ERROR: Roll right argument must consist of non-negative integer(s)
|      ?'a'
|      ∧
      3?2
DOMAIN ERROR: Deal right argument must be greater than or equal to the left argument
|      3?2
|       ∧
      ¯1?5
DOMAIN ERROR: Deal left argument must be non-negative
|      ¯1?5
|        ∧
      2?¯5
DOMAIN ERROR: Deal right argument must be non-negative
|      2?¯5
|       ∧
      1 2?5
LENGTH ERROR
|      1 2?5
|         ∧
      ?1E10
DOMAIN ERROR: The selected random number generator does not produce a sufficient range of values
|      ?10000000000
|      ∧
      ⎕RL←2147483647
DOMAIN ERROR: Invalid seed value
|      ⎕RL←2147483647
|         ∧
      ⎕RL←1 2
LENGTH ERROR: Invalid seed value
|      ⎕RL←1 2
|         ∧
⍝⍝ The Mersenne Twister and the system's source (16807⌶ selects; the result is the previous one).
      16807⌶1
0
      ⎕RL←5 ⋄ a←?1E10 ⋄ ⎕RL←5 ⋄ a=?1E10
1
      16807⌶2
1
      x←?6 6 6 ⋄ ∧/(x≥1)∧x≤6
1
      16807⌶0
2
      16807⌶3
DOMAIN ERROR: Invalid random number generator selected
|      16807⌶3
|      ∧
      16807⌶1 2
LENGTH ERROR: Invalid random number generator selected
|      16807⌶1 2
|      ∧
