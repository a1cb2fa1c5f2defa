⍝⍝ A function called as ns.F runs in ns: its names are ns's, ⎕THIS is ns, and what it calls runs there too
      ns←⎕NS ''
      ns.v←42
      ns.⎕FX 'R←Add X' 'R←v+X'
Add
      ns.Add 1
43
      ns.⎕FX 'R←Twice X' 'R←Add Add X'
Twice
      ns.Twice 1
85
      ns.⎕FX 'R←Here' 'R←⎕THIS'
Here
      ns.Here≡ns
1
      x←ns.Here
      x.v
42
      ns.Add¨1 2
43 44
      ⎕THIS
#
⍝⍝ System names reached through a namespace: ns.⎕F runs there, ns.⎕V and niladic ns.⎕N read there
      ns.⎕NL 2
v
      ns.⎕THIS≡ns
1
      f←ns.⎕NL
      f 3
Add  
Here 
Twice
      ns.⎕IO←0
      ns.⎕IO,⎕IO
0 1
      ns.⎕FX 'R←Io' 'R←⍳3'
Io
      ns.Io
0 1 2
⍝⍝ A result name that holds a namespace reference is a result
      ⎕FX 'R←Me' 'R←⎕THIS'
Me
      Me
#
⍝⍝ ⎕XSI names the namespace a suspended function runs in
      ns.⎕FX 'R←Fail X' 'R←÷X'
Fail
      ns.Fail 0
DOMAIN ERROR: Divide by zero
Fail[1]R←÷X
|         ∧
      ⎕XSI
 #.[Namespace].Fail 
      ⎕THIS
#.[Namespace]
      →
      ⎕THIS
#
⍝⍝ A function found through ⎕PATH runs in its own namespace
      u←⎕NS ''
      u.w←7
      u.⎕FX 'R←Plus X' 'R←w+X'
Plus
      ⎕PATH←'u'
      Plus 1
8
      ⎕PATH←''
⍝⍝ Operators reached through a namespace
      ns.twice←{⍺⍺ ⍺⍺ ⍵}
      (+∘1)ns.twice 5
7
