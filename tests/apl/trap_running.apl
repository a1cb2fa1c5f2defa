⍝⍝ Dfn error guards: armed when passed, they catch errors later in the dfn or in what it calls
      {0::'caught' ⋄ ÷0}1
caught
      {11::⎕EN ⋄ 1÷0}1
11
      {5::'length' ⋄ 1 2+1 2 3}1
length
      {11::'domain' ⋄ 1 2+1 2 3}1
LENGTH ERROR
|      {11::'domain' ⋄ 1 2+1 2 3}1
|                         ∧
      {⍵÷0 ⋄ 0::'too late'}1
DOMAIN ERROR: Divide by zero
|      {⍵÷0 ⋄ 0::'too late'}1
|        ∧
      f←{÷⍵}
      {0::'inner' ⋄ f 0}1
inner
      {0::'outer' ⋄ {1::'not this' ⋄ ÷⍵}⍵}0
outer
⍝⍝ :Trap with :Case clauses, and errors in called functions
      ⎕FX 'R←T X' ':Trap 11' 'R←÷X' ':Case 11' 'R←''domain''' ':EndTrap'
T
      T 4
0.25
      T 0
domain
      ⎕FX 'R←U X' ':Trap 0' 'R←f X' ':Else' 'R←''error '',⍕⎕EN' ':EndTrap'
U
      U 2
0.5
      U 0
error 11
      ⎕FX 'R←V X' 'R←0' ':Trap 5' 'R←÷X' ':EndTrap'
V
      V 0
DOMAIN ERROR: Divide by zero
V[3]R←÷X
|      ∧
      ⎕FX 'R←W X' ':Trap 11' 'R←1' ':EndTrap' 'R←÷X'
W
      W 0
DOMAIN ERROR: Divide by zero
W[4]R←÷X
|      ∧
⍝⍝ ⎕TRAP with E in a running function
      ⎕FX 'R←Q X;⎕TRAP' '⎕TRAP←11 ''E'' ''→ERR''' 'R←÷X' '→0' 'ERR:R←''trapped'''
Q
      Q 2
0.5
      Q 0
trapped
⍝⍝ ⎕TRAP C cuts back to the function whose ⎕TRAP took the error; E runs where the error happened
      ⎕FX 'R←Inner' 'R←÷0' 'R←''inner next'''
Inner
      ⎕FX 'R←OuterC;⎕TRAP' '⎕TRAP←11 ''C'' ''R←''''cut''''''' 'R←Inner' 'R←R,''+next'''
OuterC
      OuterC
cut+next
      ⎕FX 'R←OuterE;⎕TRAP' '⎕TRAP←11 ''E'' ''R←''''exec''''''' 'R←Inner' 'R←R,''+next'''
OuterE
      OuterE
inner next+next
⍝⍝ the search goes on through the values that inner localisations of ⎕TRAP hid
      ⎕FX 'R←Mid;⎕TRAP' '⎕TRAP←5 ''C'' ''R←''''mid''''''' 'R←Inner'
Mid
      ⎕FX 'R←Top;⎕TRAP' '⎕TRAP←11 ''C'' ''R←''''top''''''' 'R←Mid' 'R←R,''+next'''
Top
      Top
top+next
      ⎕FX 'R←MidN;⎕TRAP' '⎕TRAP←11 ''N''' 'R←Inner'
MidN
      ⎕FX 'R←TopS;⎕TRAP' '⎕TRAP←0 ''S''' 'R←MidN'
TopS
      TopS
DOMAIN ERROR: Divide by zero
Inner[1]R←÷0
|          ∧
      3↑⎕SI
 Inner  MidN  TopS 
      →
⍝⍝ The most recent of :Trap and ⎕TRAP decides: a ⎕TRAP set in a called function comes before a :Trap
⍝⍝ of its caller, and an S there stops the search before the caller's :Trap
      ⎕FX 'R←Callee;⎕TRAP' '⎕TRAP←11 ''C'' ''R←''''callee''''''' 'R←÷0'
Callee
      ⎕FX 'R←Caller' ':Trap 11' 'R←Callee' ':Else' 'R←''caller''' ':EndTrap'
Caller
      Caller
callee
      ⎕FX 'R←Stopper;⎕TRAP' '⎕TRAP←11 ''S''' 'R←÷0'
Stopper
      ⎕FX 'R←Caller2' ':Trap 11' 'R←Stopper' ':Else' 'R←''caller''' ':EndTrap'
Caller2
      Caller2
DOMAIN ERROR: Divide by zero
Stopper[2]R←÷0
|            ∧
      →
      ⎕FX 'R←Inner' ':Trap 11' 'R←÷0' ':Else' 'R←''inner''' ':EndTrap'
Inner
      ⎕FX 'R←Outer;⎕TRAP' '⎕TRAP←11 ''C'' ''R←''''outer''''''' 'R←Inner'
Outer
      Outer
inner
⍝⍝ ⎕SIGNAL reports its error in the caller of the function that ran it; that function's ⎕TRAP is passed over
      ⎕FX 'R←Chk X' '⎕SIGNAL(X<0)/11' 'R←X'
Chk
      ⎕FX 'R←Use X' 'R←1+Chk X'
Use
      Use 5
6
      Use ¯1
DOMAIN ERROR
Use[1]R←1+Chk X
|          ∧
      1↑⎕SI
 Use 
      →
      ⎕FX 'R←Safe X' ':Trap 11' 'R←Use X' ':Else' 'R←''trapped''' ':EndTrap'
Safe
      Safe ¯1
trapped
      ⎕FX 'R←Own X;⎕TRAP' '⎕TRAP←11 ''E'' ''R←''''own''''''' '⎕SIGNAL 11' 'R←''after'''
Own
      ⎕FX 'R←CallOwn;⎕TRAP' '⎕TRAP←11 ''E'' ''R←''''caller''''''' 'R←Own 0'
CallOwn
      CallOwn
caller
