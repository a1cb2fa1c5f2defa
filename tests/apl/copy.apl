⍝⍝ Copying objects from a saved workspace with ⎕CY: every kind of value, namespaces with their
⍝⍝ system variables and shared references, names bound where the copy lands, and the refusals.
      v←1 2 3 ⋄ t←'text' ⋄ nest←(1 2)('ab' (⊂3 4)) ⋄ ns←⎕NS '' ⋄ ns.x←42 ⋄ ns.f←{⍵×2} ⋄ alias←ns
      'named' ⎕NS '' ⋄ named.y←'why' ⋄ named.⎕IO←0 ⋄ named.inner←⎕NS '' ⋄ named.inner.z←7
      dfn←{⍺+⍵} ⋄ dop←{⍺⍺/⍵} ⋄ derived←+/ ⋄ outside←⎕NS '' ⋄ outside.root←#
      ⎕FX 'r←Sum x;i' 'r←0' ':For i :In x' 'r←r+i' ':EndFor'
Sum
      ⎕SAVE 'cy'
1
      )CLEAR
clear ws
⍝⍝ Names as a vector or as the rows of a matrix; only those are copied.
      'v Sum' ⎕CY 'cy'
      v ⋄ Sum v ⋄ ⎕NC 'nest'
1 2 3
6
0
      (2 5⍴'nest dfn  ') ⎕CY 'cy'
      nest ⋄ 1 dfn 2
 1 2   ab   3 4   
3
⍝⍝ Everything: a namespace named twice stays one, a named namespace keeps its name and ⎕IO, a
⍝⍝ reference to # is this workspace's #.
      ⎕CY 'cy'
      ns.x ⋄ ns.f 4 ⋄ alias≡ns ⋄ +dop 1 2 3 ⋄ derived 1 2 3
42
8
1
6
6
      named ⋄ named.y ⋄ named.⎕IO ⋄ ⎕IO ⋄ named.inner.z ⋄ outside.root
#.named
why
0
1
7
#
      v←'changed' ⋄ 'v' ⎕CY 'cy' ⋄ v
1 2 3
⍝⍝ Into another namespace: functions bind their names there.
      'other' ⎕NS '' ⋄ other.⎕CY 'cy' ⋄ other.Sum 4 5 ⋄ other.named
9
#.other.named
⍝⍝ Refusals: the workspace copied from is found as )LOAD finds it; a name it does not define is
⍝⍝ reported after the others are copied.
      ⎕CY 'nosuch'
DOMAIN ERROR: Workspace not found
|      ⎕CY'nosuch'
|      ∧
      v←0 ⋄ 'v nosuch' ⎕CY 'cy'
DOMAIN ERROR: Name not found
|      'v nosuch'⎕CY'cy'
|                ∧
      v
1 2 3
      ⎕CY 42
DOMAIN ERROR
|      ⎕CY 42
|      ∧
      1 2 ⎕CY 'cy'
DOMAIN ERROR
|      1 2 ⎕CY'cy'
|          ∧
⍝⍝ A file that is not a workspace.
      )SH printf text > text.vws
      ⎕CY 'text'
DOMAIN ERROR: Not a workspace
|      ⎕CY'text'
|      ∧
