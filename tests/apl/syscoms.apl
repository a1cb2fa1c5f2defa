⍝⍝ Some names of every class
      ⎕FX 'R←Cube X' 'R←X*3'
Cube
      ⎕FX 'R←Area X' 'R←X*2'
Area
      ⎕FX 'R←(F Twice) X' 'R←F F X'
Twice
      dfn←{⍵}
      Dop←{⍺⍺ ⍺⍺ ⍵}
      alpha←1 ⋄ Beta←2 ⋄ beta←3 ⋄ Gamma←4
⍝⍝ A command word is matched whole, in any case, after any blanks; anything else is "Incorrect command"
      )fns
Area  Cube  dfn
      )Fns
Area  Cube  dfn
      )  fNs   C
Cube  dfn
      )FN
Incorrect command
      )FNSX
Incorrect command
      )
Incorrect command
      )READ
Incorrect command
      )foo bar
Incorrect command
⍝⍝ Listings: the current namespace's names of one class in name order (upper case first), from the
⍝⍝ starting letter on
      )FNS c
dfn
      )OPS
Dop    Twice
      )VARS
Beta   Gamma  alpha  beta
      )VARS Bx
Beta   Gamma  alpha  beta
      )VARS b
beta
      )vars z
⍝⍝ Columns as wide as the longest name, as many to a line as fit in ⎕PW: two of 20 make 42
      ⎕PW←42
      column_one_aaaaaaaaa←1 ⋄ column_two_bbbbbbbbb←2 ⋄ column_three_cccccc←3
      )VARS c
column_one_aaaaaaaaa  column_three_cccccc
column_two_bbbbbbbbb
      ⎕PW←79
⍝⍝ )ERASE expunges what has a value; labels and system names stay, unknown names are reported
      )ERASE alpha nosuch Cube Twice ⎕IO column_one_aaaaaaaaa column_two_bbbbbbbbb column_three_cccccc
not found nosuch
not erased ⎕IO
      )FNS
Area  dfn
      )VARS
Beta   Gamma  beta
      )OPS
Dop
⍝⍝ )NS makes a namespace path, )CS enters it; ## goes up and )CS alone goes to the root
      )NS
#
      )NS a.b
#.a.b
      )CS a.b
#.a.b
      x←1
      )VARS
x
      ⎕THIS
#.a.b
      )CS ##
#.a
      )CS
#
      a.b.x
1
      )NS a
#.a
      )OBS
a
      )objects
a
      )CLASSES
⍝⍝ A path that cannot lead to a namespace is refused before anything is created
      v←5
      )NS v
Not a namespace: v
      )NS v.w
Not a namespace: v.w
      )NS fresh.##.v
Not a namespace: fresh.##.v
      ⎕NC 'fresh'
0
      )CS 1x
Not a namespace: 1x
      )CS a..b
Not a namespace: a..b
      ⎕THIS
#
⍝⍝ )SI shows each function with its line, * after a suspended one; )SINL adds the names each
⍝⍝ call localised
      ⎕FX 'R←F X;L;⎕IO' 'L←10' 'R←G X' 'R←R+1'
F
      ⎕FX 'R←G Y;M' 'M←1' 'lab:R←M÷Y'
G
      )SI
      F 0
DOMAIN ERROR: Divide by zero
G[2]R←M÷Y
|       ∧
      )SI
G[2]*
F[2]
      )SINL
G[2]*  M lab Y R
F[2]  ⎕IO L X R
      {F ⍵}0
DOMAIN ERROR: Divide by zero
G[2]R←M÷Y
|       ∧
      )SI
G[2]*
F[2]
{}
G[2]*
F[2]
⍝⍝ Erasing a local removes the suspended function's meaning; its label stays
      )ERASE lab M nosuch
not erased lab
not found nosuch
      M
VALUE ERROR
|      M
|      ∧
⍝⍝ )RESET and )SIC clear the state indicator; the session is back in the namespace it called from
      ⎕CS 'a'
      )RESET
      )SI
      ⎕THIS
#
      F 0
DOMAIN ERROR: Divide by zero
G[2]R←M÷Y
|       ∧
      )sic
      )SI
⍝⍝ )WSID shows ⎕WSID, or sets it (the default extension added) and shows the old one
      )WSID
is CLEAR WS
      )WSID MYWS
was CLEAR WS
      )WSID
is MYWS.vws
      )wsid "my ""big"" ws"
was MYWS.vws
      ⎕WSID
my "big" ws.vws
      )WSID lib/name.old
was my "big" ws.vws
⍝⍝ Names that are refused leave ⎕WSID as it was: a blank outside quotes, an open or lone quote,
⍝⍝ text after the closing quote, a ⍝, 260 characters with the extension
      )WSID my ws
unacceptable char
      )WSID "my ws
unacceptable char
      )WSID "my ws" more
unacceptable char
      )WSID "my"ws
unacceptable char
      )WSID "
unacceptable char
      )WSID my⍝ws
unacceptable char
      )WSID xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx
name too long
      ⎕WSID
lib/name.old
      )WSID xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx
was lib/name.old
      ≢⎕WSID
259
⍝⍝ )SH and )CMD run a shell command: its output and error lines come out in order, the exit status
⍝⍝ is not reported, and it cannot read the session's input
      )SH echo out; echo err >&2; exit 3
out
err
      )CMD printf 'one\ntwo'
one
two
      )SH cat
      'the session input is still there'
the session input is still there
⍝⍝ The only thread is 0; a switch to any other is refused
      )TID
is 0
      )TID 0
was 0
      )TID 1
Can't switch, this thread is 0
      )TID x
Can't switch, this thread is 0
⍝⍝ No tokens are held and no namespace is a GUI object: nothing to list
      )HOLDS
      )EVENTS
      )METHODS
      )PROPS
      )ED
)ED needs a session
⍝⍝ State checks: what ⎕SE refers to in # (and the reverse) stops )CLEAR, )SAVE and )CONTINUE with
⍝⍝ the objects concerned; the - and + forms of )SAVE skip some checks; code in ⎕SE cannot save.
      ⎕SE.r←# ⋄ ⎕SE.f←{⍵} ⋄ ⎕SE.n←42
      )CLEAR
Cannot perform operation when # is referenced by session namespace.
⎕SE.f
⎕SE.r
      )SAVE x
Cannot perform operation when # is referenced by session namespace.
      y←⎕SE
      )SAVE -x
Cannot perform operation when session namespace is referenced by #.
      )CONTINUE
Cannot perform operation when # is referenced by session namespace.
 From
⎕SE.f
⎕SE.r
      ⎕EX '⎕SE.r' '⎕SE.f' 'y' ⋄ ⎕SE.n
42
      )CS ⎕SE
⎕SE
      )SAVE x
Cannot perform operation from within session namespace.
      )CS #
#
      )CLEAR
clear ws
⍝⍝ ⎕CLEAR abandons the running code and clears; the condition that forbids it is its DOMAIN ERROR.
      ⎕SE.r←#
      ⎕CLEAR
DOMAIN ERROR: # is referenced by session namespace
|      ⎕CLEAR
|      ∧
      ⎕EX '⎕SE.r' ⋄ v←1 ⋄ ⎕FX 'f' 'w←2' '⎕CLEAR' 'w←3'
f
      f
      ⎕NC 3 1⍴'vwf'
0 0 0
      )off
      'not reached'
