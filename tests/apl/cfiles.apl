⍝⍝ Component files. The session runs in a scratch directory of its own, so relative names are private.
⍝⍝ Try runs an expression and gives its result, or the error's number and ⎕DMX message.
      Try←{0::⎕EN ⎕DMX.Message ⋄ ⍎⍵}
      ⎕PW←200
⍝⍝ ---- A new file: first and next are 1, the size is the header's, no limit
      t←'one' ⎕FCREATE 1
      t
1
      ⎕FNUMS
1
      ⎕FNAMES
one.vcf
      ⎕FSIZE t
1 1 256 0
      'CJSEUZB' ⎕FPROPS t
1 1 64 0 1 0 0
⍝⍝ ---- Values of every kind come back as they went in
      v←(⍳5)'text'(2 2⍴1.5 ¯2 3J4 0)(⊂'a' (1 2))(0⍴⊂'')'⍺⍵' 1 ¯3.25 (1=1 0 1)
      +/{_←⍵ ⎕FAPPEND t ⋄ 1}¨v
9
      v≡⎕FREAD¨(⊂t),¨⍳9
1
      ⎕FREAD t (2 1)
 text  1 2 3 4 5 
      (⍳3) ⎕FAPPEND t
      r←⎕FREAD t 10 ⋄ r ≡ ⍳3
1
      (2⊃⎕FSIZE t)
11
⍝⍝ ---- The index grows a level at the 17th component and every component still reads back
      +/{_←⍵ ⎕FAPPEND t ⋄ 1}¨10+⍳30
30
      ⎕FSIZE t
1 41 2512 0
      (⎕FREAD t 16)(⎕FREAD t 17)(⎕FREAD t 40)
16 17 40
      ∧/(10+⍳30)=⎕FREAD¨(⊂t),¨10+⍳30
1
⍝⍝ ---- Replace: same length in place or longer elsewhere; the others are untouched
      'ab' ⎕FREPLACE t 17
      (⍳1000) ⎕FREPLACE t 18
      ⎕FREAD t 17
ab
      +/⎕FREAD t 18
500500
      (⎕FREAD t 16)(⎕FREAD t 19)
16 19
⍝⍝ ---- Drop from the front and from the back; the dropped numbers are the shy result
      ⎕←⎕FDROP t 5
1 2 3 4 5
      ⎕←⎕FDROP t ¯3
38 39 40
      ⎕FSIZE t
6 38 5972 0
      (⎕FREAD t 6)(⎕FREAD t 37)
 ⍺⍵  37
      Try '⎕FREAD t 5'
20  No such component 
      Try '⎕FREAD t 38'
20  No such component 
      Try '⎕FDROP t 33'
20  Too few components in file 
      _←⎕FDROP t 32
      3↑⎕FSIZE t
38 38 6032
      'again' ⎕FAPPEND t
      ⎕FREAD t 38
again
⍝⍝ ---- Component information: bytes, user, time
      i←⎕FRDCI t 38
      (1⊃i)(2⊃i)
44 0
      (3⊃i)>60×60×24×365×50
1
⍝⍝ history: created and updated so far
      0<(⎕FHIST t)[;2]
1 0 0 0 1
      ⎕FUNTIE t
      ⎕FNUMS≡⍬
1
⍝⍝ ---- A model check: thousands of appends, replacements and drops from either end, with the file
⍝⍝ compared with a list of the values every 50 steps, journaled (1) and not (0)
      ⎕FX 'ok←j Model n;t;m;first;g;v;c;k' 't←''model'' ⎕FCREATE 0' '_←(''J'' j) ⎕FPROPS t' 'm←0⍴⊂⍬ ⋄ first←1 ⋄ ok←1' ':For g :In ⍳n' 'v←g((g|17)⍴g) ⋄ _←v ⎕FAPPEND t ⋄ m,←⊂v' ':If (0=3|g)∧0<≢m' 'c←first+(≢m)|g×31 ⋄ v←g((g|23)⍴-g) ⋄ _←v ⎕FREPLACE t c ⋄ m[1+c-first]←⊂v' ':EndIf' ':If 0=11|g' 'k←(≢m)⌊g|5 ⋄ _←⎕FDROP t k ⋄ m←k↓m ⋄ first+←k' ':EndIf' ':If 0=13|g' 'k←(≢m)⌊g|4 ⋄ _←⎕FDROP t (-k) ⋄ m←(-k)↓m' ':EndIf' ':If 0=97|g' 'k←≢m ⋄ _←⎕FDROP t k ⋄ m←k↓m ⋄ first+←k' ':EndIf' ':If 0=50|g' 'ok∧←(first,first+≢m)≡2↑⎕FSIZE t' 'ok∧←(0=≢m)∨m≡⎕FREAD t (first+¯1+⍳≢m)' ':EndIf' ':EndFor' '''model'' ⎕FERASE t'
Model
      (1 Model 1500),(0 Model 1500)
1 1
⍝⍝ ---- Creating: names, limits, spans
      Try '''uno'' ⎕FCREATE 1'
      Try '''uno'' ⎕FCREATE 2'
22  File exists 
      Try '''uno.vcf'' ⎕FTIE 2'
24  File already tied 
      Try '''two'' ⎕FCREATE 1'
18  Tie number in use 
      Try '''two'' ⎕FCREATE 0 16'
11  Invalid span size 
      Try '''two'' ⎕FCREATE ¯2'
11  Invalid tie number 
      Try '''two'' ⎕FCREATE 2 64 1'
11  Tie number and optional address size expected in right argument 
      Try '(''two'' 303) ⎕FCREATE 2'
21  Invalid file size 
      Try '(''two'' ''x'') ⎕FCREATE 2'
11  Filename and optional file size limit expected in left argument 
      Try '3 ⎕FCREATE 2'
11  Filename and optional file size limit expected in left argument 
      Try '(''two'' 304) ⎕FCREATE 2'
      ⎕FSIZE 2
1 1 256 304
      'CJS' ⎕FPROPS 2
1 1 64
⍝⍝ past the size limit the file is full and keeps what it had
      Try '(⍳100) ⎕FAPPEND 2'
21  File size limit reached 
      ⎕FSIZE 2
1 1 256 304
      Try '0 ⎕FRESIZE 2'
      Try '303 ⎕FRESIZE 2'
21  Invalid file size 
      _←(⍳100) ⎕FAPPEND 2
      ⎕FSIZE 2
1 2 396 0
⍝⍝ ---- Tie numbers
      Try '⎕FREAD 9 1'
18  Tie number not in use 
      Try '⎕FREAD 0 1'
11  Invalid tie number 
      Try '⎕FREAD ¯1 1'
11  Invalid tie number 
      Try '⎕FREAD 1.5 1'
11  Tie number, component number and optional passnumber expected in right argument 
      Try '⎕FREAD ''a'' 1'
11  Tie number, component number and optional passnumber expected in right argument 
      Try '⎕FSIZE 1 2 3'
11  Tie number and optional passnumber expected in right argument 
      Try '⎕FREAD 2 ¯1'
11  Invalid component number 
      Try '⎕FREAD 2 1.5'
11  Tie number, component number and optional passnumber expected in right argument 
      Try '⎕FREAD 2 (2*32)'
11  Invalid component number 
      Try '⎕FREAD 2 2'
20  No such component 
      Try '⎕FDROP 2 1.5'
11  Tie number, component count and optional passnumber expected in right argument 
      ⎕FUNTIE ⎕FNUMS
⍝⍝ ---- Tying: a number in use, a file tied already, missing files and files that are not component files
      t←'uno' ⎕FTIE 0
      t
1
      Try '''two'' ⎕FTIE 1'
18  Tie number in use 
      Try '''uno'' ⎕FSTIE 0'
24  File already tied 
      Try '''nothing'' ⎕FTIE 0'
22  Unable to open file 
      n←'short.vcf' ⎕NCREATE 0 ⋄ (⍳10) ⎕NAPPEND n 83 ⋄ ⎕NUNTIE n
      Try '''short'' ⎕FTIE 0'
22  Not a component file (too short) 
      n←'magic.vcf' ⎕NCREATE 0 ⋄ (100⍴0) ⎕NAPPEND n 83 ⋄ ⎕NUNTIE n
      Try '''magic'' ⎕FTIE 0'
22  Not a component file (bad magic number) 
      n←'nascent.vcf' ⎕NCREATE 0 ⋄ (¯86 21,98⍴0) ⎕NAPPEND n 83 ⋄ ⎕NUNTIE n
      Try '''nascent'' ⎕FTIE 0'
22  Not a component file (nascent) 
      n←'order.vcf' ⎕NCREATE 0 ⋄ (¯86 9 15 0 0 0 ¯108 0 2 0 0 0,88⍴0) ⎕NAPPEND n 83 ⋄ ⎕NUNTIE n
      Try '''order'' ⎕FTIE 0'
22  Incompatible file architecture 
      ⎕FUNTIE ⎕FNUMS
⍝⍝ ---- 32-bit span: smaller records, the same behaviour
      s←'small' ⎕FCREATE 0 32
      ⎕FSIZE s
1 1 144 0
      'SUCJ' ⎕FPROPS s
32 0 1 1
      +/{_←(⍵⍴⍵) ⎕FAPPEND s ⋄ 1}¨⍳20
20
      ⎕FSIZE s
1 21 1136 0
      ∧/(⍳20)≡¨≢¨⎕FREAD s (⍳20)
1
      _←⎕FDROP s 18
      ⎕FREAD s 20
20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20
⍝⍝ ---- Properties: setting gives the previous values; checksumming must stay with journaling above 1
      ('J' 0) ⎕FPROPS s
      'J' ⎕FPROPS s
0
      Try '(''J'' 2)(''C'' 0) ⎕FPROPS s'
11  Selected journaling level requires checksumming 
      Try '(''J'' 4) ⎕FPROPS s'
11  Invalid journaling level 
      Try '(''S'' 64) ⎕FPROPS s'
11  Invalid property name 
      Try '''Q'' ⎕FPROPS s'
11  Invalid property name 
      Try '(''J'' 1)(''J'' 2) ⎕FPROPS s'
11  Duplicated property setting 
      Try '(''B'' 1) ⎕FPROPS s'
11  Transactioning only supported in 64-bit, journaled and checksummed component files 
⍝⍝ U marks a file as written by a Unicode interpreter: set and cleared in large-span files, always 0
⍝⍝ in small-span ones
      Try '(''U'' 1) ⎕FPROPS s'
11  Invalid property value 
      u←'umark' ⎕FCREATE 0 ⋄ _←('U' 0) ⎕FPROPS u ⋄ ⎕FUNTIE u ⋄ u←'umark' ⎕FTIE 0 ⋄ 'U' ⎕FPROPS u
0
      ⎕←('U' 1) ⎕FPROPS u ⋄ 'U' ⎕FPROPS u
0
1
      'umark' ⎕FERASE u
      ⎕←(('C' 0)('J' 0)) ⎕FPROPS s
1 0
      'CJ' ⎕FPROPS s
0 0
      ⎕FREAD s 20
20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20
      ('C' 1) ⎕FPROPS s
      ⎕FREAD s 19
19 19 19 19 19 19 19 19 19 19 19 19 19 19 19 19 19 19 19
⍝⍝ without journaling, data of the same length replaces the old in place; with it, it goes elsewhere
      a←3⊃⎕FSIZE s ⋄ (20⍴21) ⎕FREPLACE s 20 ⋄ a=3⊃⎕FSIZE s
1
      ('J' 1) ⎕FPROPS s
      a←3⊃⎕FSIZE s ⋄ (20⍴22) ⎕FREPLACE s 20 ⋄ a<3⊃⎕FSIZE s
1
      ⎕FREAD s 20
22 22 22 22 22 22 22 22 22 22 22 22 22 22 22 22 22 22 22 22
⍝⍝ ---- Property Z: components stored compressed (large span with the area after the header only)
      z←'packed' ⎕FCREATE 0
      ('Z' 1) ⎕FPROPS z
      'Z' ⎕FPROPS z
1
      big←1000⍴⍳10 ⋄ _←big ⎕FAPPEND z ⋄ _←(⊂'nested' (⍳3)) ⎕FAPPEND z ⋄ _←'' ⎕FAPPEND z
      (big≡⎕FREAD z 1),(⎕FREAD z 2)≡⊂'nested' (⍳3)
1 1
      ⍴⎕FREAD z 3
0
      100>1⊃⎕FRDCI z 1
1
      'x' ⎕FREPLACE z 3 ⋄ ⎕FREAD z 3
x
      Try '((''C'' 0)(''J'' 0)) ⎕FPROPS z'
11  Invalid file type whilst compression is set 
      ('Z' 0) ⎕FPROPS z
      _←big ⎕FAPPEND z ⋄ 1000<1⊃⎕FRDCI z 4
1
      ⎕FRESIZE z ⋄ (big≡⎕FREAD z 1),big≡⎕FREAD z 4
1 1
      ⎕FUNTIE z
      z←'small32' ⎕FCREATE 0 32
      Try '(''Z'' 1) ⎕FPROPS z'
11  File type does not allow compression to be set 
      ⎕FUNTIE z
⍝⍝ ---- The access matrix: read back as set, a 3-vector is one row
      ⎕FRDAC s
      ⍴⎕FRDAC s
0 3
      (2 3⍴5 ¯1 0 0 1 7) ⎕FSTAC s
      ⎕FRDAC s
5 ¯1 0
0  1 7
      (0 ¯1 0) ⎕FSTAC s
      ⎕FRDAC s
0 ¯1 0
      Try '(2 2⍴1) ⎕FSTAC s'
11  Invalid access matrix specification 
      Try '(1 3⍴1.5) ⎕FSTAC s'
11  Invalid access matrix specification 
      Try '''abc'' ⎕FSTAC s'
11  Invalid access matrix specification 
⍝⍝ ---- History: five events, each a user number and a time
      ⍴⎕FHIST s
5 2
⍝⍝ ---- Copying, compacting, renaming and erasing
      c←'copy' ⎕FCOPY s
      c
2
      (2↑⎕FSIZE c)≡2↑⎕FSIZE s
1
      (⎕FREAD c 20)≡⎕FREAD s 20
1
      Try '''copy'' ⎕FCOPY s'
22  File exists 
      'x' ⎕FREPLACE s 20
      a←3⊃⎕FSIZE s ⋄ ⎕FRESIZE s ⋄ a>3⊃⎕FSIZE s
1
      ⎕FREAD s 20
x
      'moved' ⎕FRENAME c
      ⎕FNAMES
small.vcf
moved.vcf
      Try '''moved'' ⎕FRENAME s'
22  File exists 
      Try '''other'' ⎕FERASE c'
22  File name mismatch 
      'moved' ⎕FERASE c
      ⎕NEXISTS 'moved.vcf'
0
      ⎕FNUMS
1
      ⎕FLIB ''
one.vcf    
order.vcf  
packed.vcf 
small.vcf  
small32.vcf
two.vcf    
uno.vcf    
⍝⍝ ---- Holds: an empty argument releases every hold
      ⎕FHOLD s
      ⎕FHOLD ⍬
      ⎕FHOLD 2 1⍴s 0
      Try '⎕FHOLD ''a'''
11  Tie numbers or two-row matrix of tie numbers and passnumbers expected in right argument 
      Try '⎕FHOLD 3 1⍴s'
11  Tie numbers or two-row matrix of tie numbers and passnumbers expected in right argument 
      ⎕FUNTIE s
⍝⍝ ---- Damage: a flipped byte in a checksummed component is reported, never read as data
      d←'damaged' ⎕FCREATE 0
      _←(⍳100) ⎕FAPPEND d ⋄ _←'second' ⎕FAPPEND d ⋄ ⎕FUNTIE d
      n←'damaged.vcf' ⎕NTIE 0 ⋄ b←⎕NREAD n 83 1 300 ⋄ (-b+1) ⎕NREPLACE n 300 83 ⋄ ⎕NUNTIE n
      d←'damaged' ⎕FTIE 0
      Try '⎕FREAD d 1'
38  Component checksum mismatch 
      ⎕EM 38
FILE COMPONENT DAMAGED
      ⎕FREAD d 2
second
      Try '⎕FCHK ''damaged'''
24  File already tied 
      ⎕FUNTIE d
      ⎕FCHK 'damaged'
1
⍝⍝ ⎕FCHK options: only validating, by checksum (which the file must have); 'concurrent' only validates
      'validate checksums' ⎕FCHK 'damaged'
1
      Try '''concurrent'' ⎕FCHK ''damaged'''
11  The 'concurrent' option may only be used for validation 
      Try '''validate validate'' ⎕FCHK ''damaged'''
11  Duplicated option 
      Try '''bogus'' ⎕FCHK ''damaged'''
11  Invalid option 
      u←'nosum' ⎕FCREATE 0 ⋄ _←(('C' 0)('J' 0)) ⎕FPROPS u ⋄ _←{_←(⍳⍵) ⎕FAPPEND u ⋄ _←(⍳⍵+1) ⎕FREPLACE u ⍵ ⋄ 0}¨⍳20 ⋄ a←3⊃⎕FSIZE u ⋄ ⎕FUNTIE u
      Try '''checksums'' ⎕FCHK ''nosum'''
19  File not checksummed 
⍝⍝ without damage, and unless only validating, the check gives back the space no component uses
      ⎕FCHK 'nosum'

      u←'nosum' ⎕FTIE 0 ⋄ (a>3⊃⎕FSIZE u),(⍳21)≡⎕FREAD u 20
1 1
      ⎕FUNTIE u
⍝⍝ every byte of a small checksummed file flipped in turn: no read ever gives a wrong value; most
⍝⍝ flips are reported (the others fall in unused index slots and in free space)
      f←'flip' ⎕FCREATE 0 ⋄ vals←{⍵⍴⍵}¨⍳20 ⋄ _←{_←⍵ ⎕FAPPEND f ⋄ 1}¨vals ⋄ _←'x' ⎕FREPLACE f 3 ⋄ vals[3]←⊂'x'
      (2 3⍴7 3 0 0 1 0) ⎕FSTAC f ⋄ ⎕FUNTIE f
      n←'flip.vcf' ⎕NTIE 0 ⋄ orig←⎕NREAD n 83 (⎕NSIZE n) 0 ⋄ ⎕NUNTIE n
      Flip←{_←⎕FUNTIE ⎕FNUMS ⋄ b←orig ⋄ b[⍵]←¯1-b[⍵] ⋄ n←'flip.vcf' ⎕NTIE 0 ⋄ _←b ⎕NREPLACE n 0 83 ⋄ _←⎕NUNTIE n ⋄ 0}
      Outcome←{_←Flip ⍵ ⋄ 0::1 ⋄ t←'flip' ⎕FTIE 0 ⋄ 2×~(vals≡⎕FREAD t (⍳20))∧(2 3⍴7 3 0 0 1 0)≡⎕FRDAC t}
      o←Outcome¨⍳≢orig
      +/o=2
0
      (+/o=1)>0.6×≢orig
1
⍝⍝ an index entry for components that are gone is never followed: after 48 components and 20 dropped
⍝⍝ from the back, the root's entry for positions 32-47 is made to point at a component record, and
⍝⍝ appending 20 more still gives a sound file
      g←'stale' ⎕FCREATE 0 ⋄ _←{_←⍵ ⎕FAPPEND g ⋄ 0}¨⍳48 ⋄ _←⎕FDROP g ¯20 ⋄ ⎕FUNTIE g
      n←'stale.vcf' ⎕NTIE 0 ⋄ root←⊃⎕NREAD n 323 1 24 ⋄ (256 0) ⎕NREPLACE n (root+16) 323 ⋄ ⎕NUNTIE n
      g←'stale' ⎕FTIE 0 ⋄ _←{_←(-⍵) ⎕FAPPEND g ⋄ 0}¨28+⍳20
      (⎕FREAD g (⍳48))≡(⍳28),-28+⍳20
1
      ⎕FUNTIE g
⍝⍝ a file cut short by another program
      ⎕FUNTIE ⎕FNUMS ⋄ n←'flip.vcf' ⎕NTIE 0 ⋄ (¯100+⎕NSIZE n) ⎕NRESIZE n ⋄ ⎕NUNTIE n
      Try '''flip'' ⎕FTIE 0'
23  Damaged component tree 
⍝⍝ ⎕FCHK checks a file cut short and rebuilds it: what lies before the cut reads back, what is gone
⍝⍝ stays reported (never read as data) until it is replaced or dropped
      c←'cut' ⎕FCREATE 0 ⋄ _←{_←(⍵⍴⍵) ⎕FAPPEND c ⋄ 0}¨⍳20 ⋄ ⎕FUNTIE c
      n←'cut.vcf' ⎕NTIE 0 ⋄ (¯300+⎕NSIZE n) ⎕NRESIZE n ⋄ ⎕NUNTIE n
      Try '''cut'' ⎕FTIE 0'
23  Damaged component tree 
      'validate' ⎕FCHK 'cut'
18 19 20
      ⎕FCHK 'cut'
18 19 20
      c←'cut' ⎕FTIE 0 ⋄ (⎕FREAD c (⍳17))≡{⍵⍴⍵}¨⍳17
1
      Try '⎕FREAD c 19'
23  Damaged component tree 
      _←'new' ⎕FREPLACE c 19 ⋄ _←⎕FDROP c ¯1 ⋄ ⎕FRESIZE c ⋄ ⎕FREAD c 19
new
      ⎕FUNTIE c ⋄ ⎕FCHK 'cut'
18
⍝⍝ a damaged free-space table stops updates, not reads; ⎕FCHK rebuilds it
      f←'free' ⎕FCREATE 0 ⋄ _←{_←(⍵⍴⍵) ⎕FAPPEND f ⋄ 0}¨⍳20 ⋄ _←{_←(⍵⍴'x') ⎕FREPLACE f ⍵ ⋄ 0}¨⍳5 ⋄ ⎕FUNTIE f
      n←'free.vcf' ⎕NTIE 0 ⋄ a←⊃⎕NREAD n 323 1 136 ⋄ b←⎕NREAD n 83 1 (a+30) ⋄ (-b+1) ⎕NREPLACE n (a+30) 83 ⋄ ⎕NUNTIE n
      f←'free' ⎕FTIE 0 ⋄ ⎕FREAD f 6
6 6 6 6 6 6
      Try '''y'' ⎕FAPPEND f'
23  Damaged free tree 
      ⎕FUNTIE f ⋄ ⎕FCHK 'free'

      f←'free' ⎕FTIE 0 ⋄ _←'y' ⎕FAPPEND f ⋄ (⎕FREAD f (⍳21))≡({⍵⍴'x'}¨⍳5),({⍵⍴⍵}¨5+⍳15),'y'
1
      ⎕FUNTIE f
⍝⍝ a changed header: its own checksum reports it
      n←'damaged.vcf' ⎕NTIE 0 ⋄ (1 0 0 0 0 0 1 0) ⎕NREPLACE n 24 83 ⋄ ⎕NUNTIE n
      Try '''damaged'' ⎕FTIE 0'
23  Unable to read file header 
⍝⍝ ---- A shared tie and an exclusive one cannot both hold a file in one process
      s←'shared' ⎕FCREATE 0 ⋄ ⎕FUNTIE s
      s←'shared' ⎕FSTIE 0
      Try '''shared'' ⎕FTIE 0'
24  File already tied 
      'abc' ⎕FAPPEND s
      ⎕FREAD s 1
abc
      Try '''x'' ⎕FERASE s'
22  File name mismatch 
      Try '''shared'' ⎕FERASE s'
19  File must be exclusively tied 
      Try '⎕FRESIZE s'
19  File must be exclusively tied 
      ⎕FUNTIE s
⍝⍝ ---- Unjournaled appends on an exclusive tie are held in memory: everything that reads the file
⍝⍝ sees them, and a copy, a compaction and a replacement carry them
      h←'held' ⎕FCREATE 0 32 ⋄ ⎕←('J' 0)('C' 0) ⎕FPROPS h
1 1
      _←{(⍵⍴⍵) ⎕FAPPEND h}¨⍳40 ⋄ (⍳40)≡≢¨⎕FREAD h (⍳40)
1
      (2↑⎕FSIZE h),(⎕FREAD h 17)≡17⍴17
1 41 1
      _←(⊂'new') ⎕FREPLACE h 40 ⋄ _←⎕FDROP h ¯1 ⋄ _←{(⍵⍴⍵) ⎕FAPPEND h}¨40+⍳5 ⋄ ⎕FRESIZE h ⋄ c←'heldcopy' ⎕FCOPY h
      ((⍳39),40+⍳5)≡≢¨⎕FREAD c (⍳44)
1
      ⎕FUNTIE h c ⋄ h←'held' ⎕FTIE 0 ⋄ ((⍳39),40+⍳5)≡≢¨⎕FREAD h (⍳44)
1
      'heldcopy' ⎕FERASE 'heldcopy' ⎕FTIE 0 ⋄ 'held' ⎕FERASE h
