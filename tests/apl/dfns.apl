⍝⍝ Dfns: arguments, results, assignment, default left argument
      {⍵+1}3
4
      2{⍺×⍵}5
10
      f←{⍵+1}
      f 41
42
      f
{⍵+1}
      {⍺←10 ⋄ ⍺+⍵}1
11
      5{⍺←10 ⋄ ⍺+⍵}1
6
⍝⍝ Names assigned in a dfn are local; the first assignment reads the outer value
      x←5
      {x←x+⍵ ⋄ x×2}3
16
      x
5
      {y←⍵}7
      y
VALUE ERROR
|      y
|      ∧
⍝⍝ Guards and recursion (a deep recursion runs without native recursion)
      fib←{⍵<2:⍵ ⋄ (∇⍵-1)+∇⍵-2}
      fib 20
6765
      {⍵=0:0 ⋄ ∇⍵-1}100000
0
      {0:'no' ⋄ 'yes'}0
yes
⍝⍝ Guard conditions must be one Boolean
      {1 2:3}0
LENGTH ERROR: Boolean singleton value required
|      {1 2:3}0
|            ∧
      {2:3}0
DOMAIN ERROR: Boolean singleton value required
|      {2:3}0
|          ∧
⍝⍝ A dfn without a result
      {}1
      1+{}1
VALUE ERROR: No result was provided when the context expected one
|      1+{}1
|         ∧
      {x←⍵}1
⍝⍝ ... and one whose statements all end in assignments gives the last one's value, shy
      r←{x←⍵ ⋄ y←x+1}1 ⋄ r
2
      {x←⍵}¨1 2
1 2
⍝⍝ Tail calls run in constant space; a callee still sees the caller's locals and error guard
      {⍵=0:'done' ⋄ ∇⍵-1}1000000
done
      acc←{⍺←0 ⋄ ⍵=0:⍺ ⋄ (⍺+⍵)∇⍵-1}
      acc 100
5050
      x←1
      {x←2 ⋄ {x}⍵}0
2
      {0::'caught' ⋄ {⍵=0:÷0 ⋄ ∇⍵-1}⍵}5
caught
⍝⍝ Dfn operators: ⍺⍺ and ⍵⍵, named or not
      -{⍺⍺¨⍵}1 2 3
¯1 ¯2 ¯3
      E←{⍺⍺¨⍵}
      -E 1 2 3
¯1 ¯2 ¯3
      ⎕NC 'E'
4
      T←{⍺⍺ ⍵⍵ ⍵}
      - T | ¯5
¯5
      +{⍺ ⍺⍺ ⍵}/1 2 3 4
10
      rep←{⍺←⍵ ⋄ ⍺=0:⍵ ⋄ (⍺-1)(⍺⍺ ∇∇)⍺⍺ ⍵}
      3 (1∘+) rep 0
3
⍝⍝ A branch in a running dfn is a SYNTAX ERROR, also from ⍎ inside it
      {→⍬ ⋄ 1}0
SYNTAX ERROR
|      {→⍬ ⋄ 1}0
|       ∧
      {→1 ⋄ 2}0
SYNTAX ERROR
|      {→1 ⋄ 2}0
|       ∧
      {⍎'→1' ⋄ 2}0
SYNTAX ERROR
|      →1
|      ∧
⍝⍝ ⎕NR and ⎕CR of a dfn give its text
      g←{⍵+1}
      ⎕NR 'g'
 {⍵+1} 
      ⎕CR 'g'
{⍵+1}
      ⍴⎕CR 'g'
1 5
⍝⍝ A dfn typed over several lines in the session goes on until it closes
      ml←{
        ⍵=0:'zero'
        ⍵+1
      }
      ml 0
zero
      ml 5
6
