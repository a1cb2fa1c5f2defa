⍝⍝ Import, namespace form: objects become namespaces, arrays vectors (simple when all numbers),
⍝⍝ strings character vectors, true and false 1 and 0.
      7159⌶'[1,2,3]'
1 2 3
      7159⌶'[1, 2.5, -3e2, 0.125E+1]'
1 2.5 ¯300 1.25
      7159⌶'[]'

      7159⌶'"a\"b\\c\/d\u00e9\ud83d\ude00"'
a"b\c/dé😀
      ⍴7159⌶'"x"'
1
      7159⌶' 42 '
42
      7159⌶'-0.5'
¯0.5
      7159⌶'[true,false]'
1 0
      x←7159⌶'{"a":1,"b":[1,"xy",[]],"c":{"d":"e","f":[true,{"g":false}]}}'
      x.a
1
      x.b
1  xy   
      x.c.d
e
      x.c.f[1]
1
      (2⊃x.c.f).g
0
      x.c.⎕NL 2 9
d
f
      7159⌶'{}'
[JSON object]
      x.c.f
1  [JSON object] 
⍝⍝ Member names that are not APL names, and names that start with ⍙, are written with ⍙code⍙.
      y←7159⌶'{"a b":1,"1x":2,"":3,"⍙q":4,"ok":5}'
      y.⎕NL 2
ok      
⍙       
⍙1x     
⍙a⍙32⍙b 
⍙⍙9049⍙q
      y.⍙a⍙32⍙b y.⍙1x y.⍙ y.⍙⍙9049⍙q y.ok
1 2 3 4 5
⍝⍝ A character matrix is read row by row, each row followed by a carriage return (so a string
⍝⍝ cannot run from one row into the next).
      7159⌶3 4⍴'[1, 2 , 3]  '
1 2 3
      7159⌶2 5⍴'["ab"  ,"c"]'
DOMAIN ERROR: Invalid string at offset 11
|      7159⌶2 5⍴'["ab"  ,"c"]'
|      ∧
⍝⍝ The left argument: form [true [false]].
      (0 7 8)(7159⌶)'[true,false]'
7 8
⍝⍝ Form 1, the matrix form: depth, name, value, type (1 object, 2 array, 3 number, 4 string,
⍝⍝ 5 literal).
      m←1(7159⌶)'{"a":[1,{"b":"x"}],"c":null,"d":true}'
      ⍴m
7 4
      m[;1 2 4]
0     1
1  a  2
2     3
2     1
3  b  4
1  c  5
1  d  5
      m[3 5 7;3]
1  x  1
      (⊂⍬)≡¨m[1 2 4;3]
1 1 1
      1(7159⌶)'5'
0    5 3
⍝⍝ Form 2 keeps the literals as ⊂'true', ⊂'false' and ⊂'null', which export as the literals.
      z←2(7159⌶)'[true,false,null,1]'
      z
  true    false    null   1
      7160⌶z
[true,false,null,1]
⍝⍝ Syntax errors: the message and the offset of the offending character.
      7159⌶'[1,2] x'
DOMAIN ERROR: End of input expected at offset 6
|      7159⌶'[1,2] x'
|      ∧
      ⎕DMX.EN ⋄ ⎕DMX.Category ⋄ ⎕DMX.Message
11
JSON conversion
End of input expected at offset 6
      7159⌶''
DOMAIN ERROR: Unexpected end of input
|      7159⌶''
|      ∧
      7159⌶'   '
DOMAIN ERROR: Unexpected end of input
|      7159⌶'   '
|      ∧
      7159⌶'[1,2'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'[1,2'
|      ∧
      7159⌶'{"a":'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'{"a":'
|      ∧
      7159⌶'"abc'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'"abc'
|      ∧
      7159⌶'"ab\'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'"ab\'
|      ∧
      7159⌶'tru'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'tru'
|      ∧
      7159⌶'trux'
DOMAIN ERROR: Invalid character at offset 3
|      7159⌶'trux'
|      ∧
      7159⌶'nul'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'nul'
|      ∧
      7159⌶'x'
DOMAIN ERROR: Invalid character at offset 0
|      7159⌶'x'
|      ∧
      7159⌶']'
DOMAIN ERROR: Invalid character at offset 0
|      7159⌶']'
|      ∧
      7159⌶'+1'
DOMAIN ERROR: Invalid character at offset 0
|      7159⌶'+1'
|      ∧
      7159⌶'-'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'-'
|      ∧
      7159⌶'-x'
DOMAIN ERROR: Invalid number at offset 1
|      7159⌶'-x'
|      ∧
      7159⌶'1.'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'1.'
|      ∧
      7159⌶'1.x'
DOMAIN ERROR: Invalid number at offset 2
|      7159⌶'1.x'
|      ∧
      7159⌶'1e'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'1e'
|      ∧
      7159⌶'1e+'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'1e+'
|      ∧
      7159⌶'1E400'
DOMAIN ERROR: Number out of range at offset 0
|      7159⌶'1E400'
|      ∧
      7159⌶'-1e99999'
DOMAIN ERROR: Number out of range at offset 0
|      7159⌶'-1e99999'
|      ∧
      7159⌶'01'
DOMAIN ERROR: End of input expected at offset 1
|      7159⌶'01'
|      ∧
      7159⌶'"a',(⎕UCS 10),'b"'
DOMAIN ERROR: Invalid string at offset 2
|      7159⌶'"a',(⎕UCS 10),'b"'
|      ∧
      7159⌶'"a\qb"'
DOMAIN ERROR: Invalid string at offset 3
|      7159⌶'"a\qb"'
|      ∧
      7159⌶'"\u12G4"'
DOMAIN ERROR: Invalid hexadecimal digit at offset 5
|      7159⌶'"\u12G4"'
|      ∧
      7159⌶'"\u12'
DOMAIN ERROR: Unexpected end of input
|      7159⌶'"\u12'
|      ∧
      7159⌶'"\ud83d"'
DOMAIN ERROR: Invalid UTF-16 encoding at offset 7
|      7159⌶'"\ud83d"'
|      ∧
      7159⌶'"\ud83dx"'
DOMAIN ERROR: Invalid UTF-16 encoding at offset 7
|      7159⌶'"\ud83dx"'
|      ∧
      7159⌶'"\ud83d\n"'
DOMAIN ERROR: Invalid UTF-16 encoding at offset 8
|      7159⌶'"\ud83d\n"'
|      ∧
      7159⌶'"\ud83d\u0041"'
DOMAIN ERROR: Invalid UTF-16 encoding at offset 9
|      7159⌶'"\ud83d\u0041"'
|      ∧
      7159⌶'"\ude00"'
DOMAIN ERROR: Invalid UTF-16 encoding at offset 3
|      7159⌶'"\ude00"'
|      ∧
      7159⌶'[1,]'
DOMAIN ERROR: Invalid array at offset 3
|      7159⌶'[1,]'
|      ∧
      7159⌶'[1 2]'
DOMAIN ERROR: Invalid array at offset 3
|      7159⌶'[1 2]'
|      ∧
      7159⌶'[1}'
DOMAIN ERROR: Invalid array at offset 2
|      7159⌶'[1}'
|      ∧
      7159⌶'{"a":1,}'
DOMAIN ERROR: Invalid object at offset 7
|      7159⌶'{"a":1,}'
|      ∧
      7159⌶'{"a" 1}'
DOMAIN ERROR: Invalid object at offset 5
|      7159⌶'{"a" 1}'
|      ∧
      7159⌶'{1:2}'
DOMAIN ERROR: Invalid object at offset 1
|      7159⌶'{1:2}'
|      ∧
      7159⌶'{"a":1]'
DOMAIN ERROR: Invalid object at offset 6
|      7159⌶'{"a":1]'
|      ∧
⍝⍝ The text is characters: bytes of invalid UTF-8 held as characters are simply those characters.
      ⎕UCS 7159⌶⎕UCS 34 255 192 128 34
255 192 128
⍝⍝ Bad arguments.
      7159⌶1 2 3
DOMAIN ERROR: Invalid right argument
|      7159⌶1 2 3
|      ∧
      7159⌶2 2 2⍴'[]'
RANK ERROR: Invalid right argument
|      7159⌶2 2 2⍴'[]'
|      ∧
      (2 2⍴0)(7159⌶)'1'
RANK ERROR: Invalid left argument
|      (2 2⍴0)(7159⌶)'1'
|             ∧
      0 1 2 3(7159⌶)'1'
LENGTH ERROR: Invalid left argument
|      0 1 2 3(7159⌶)'1'
|             ∧
      3(7159⌶)'1'
DOMAIN ERROR: Invalid left argument
|      3(7159⌶)'1'
|       ∧
      0.5(7159⌶)'1'
DOMAIN ERROR: Invalid left argument
|      0.5(7159⌶)'1'
|         ∧
      'a'(7159⌶)'1'
DOMAIN ERROR: Invalid left argument
|      'a'(7159⌶)'1'
|         ∧
      2 1(7159⌶)'1'
DOMAIN ERROR: Invalid left argument
|      2 1(7159⌶)'1'
|         ∧
⍝⍝ Export.
      7160⌶0.1
0.1
      7160⌶1E20
1e+20
      7160⌶¯2
-2
      7160⌶123456789 ¯1.5 0
[123456789,-1.5,0]
⍝⍝ A decimal beyond the range of doubles is written with its own digits
      7160⌶1E400
1E400
      7160⌶1 0 1
[1,0,1]
      7160⌶⍬
[]
      7160⌶''
""
      7160⌶'a'
"a"
      7160⌶'tab',(⎕UCS 9 10 13 8 12 1 31),'"\/é'
"tab\t\n\r\b\f\u0001\u001f\"\\/é"
      7160⌶(1 2)'ab'(⊂'true')(⊂'false')(⊂'null')(⊂⊂'x')
[[1,2],"ab",true,false,null,"x"]
      7160⌶x
{"a":1,"b":[1,"xy",[]],"c":{"d":"e","f":[1,{"g":0}]}}
⍝⍝ Hashed arrays are read as their arrays.
      7160⌶1500⌶1 2 3
[1,2,3]
      7159⌶1500⌶'[1,2]'
1 2
      7160⌶y
{"ok":5,"":3,"1x":2,"a b":1,"⍙q":4}
⍝⍝ A name that starts with ⍙ is read as such a name: ⍙ without a code between two of them is itself.
      w←⎕NS '' ⋄ w.⍙foo⍙bar⍙←1 ⋄ w.⍙⍙←2 ⋄ w.⍙x⍙9999999⍙←3 ⋄ 7160⌶w
{"foo⍙bar⍙":1,"x⍙9999999⍙":3,"⍙":2}
      7160⌶7159⌶'{"a":[],"b":{},"c":[[]],"d":""}'
{"a":[],"b":{},"c":[[]],"d":""}
      (7160⌶x)≡7160⌶7159⌶7160⌶x
1
⍝⍝ Arrays with no JSON form, and a namespace inside itself.
      7160⌶2 3⍴⊂'ab'
DOMAIN ERROR: Invalid matrix or sub-matrix
|      7160⌶2 3⍴⊂'ab'
|      ∧
      7160⌶⊂2 2⍴⍳4
DOMAIN ERROR: Array unsupported by JSON
|      7160⌶⊂2 2⍴⍳4
|      ∧
      7160⌶1J2
DOMAIN ERROR: Array unsupported by JSON
|      7160⌶1J2
|      ∧
      7160⌶(1 2)(2 2⍴⍳4)
DOMAIN ERROR: Array unsupported by JSON
|      7160⌶(1 2)(2 2⍴⍳4)
|      ∧
      n←⎕NS '' ⋄ n.me←n ⋄ 7160⌶n
DOMAIN ERROR: Circular namespace reference
|      7160⌶n
|      ∧
      n.me←⎕NS '' ⋄ n.me.back←n ⋄ 7160⌶n
DOMAIN ERROR: Circular namespace reference
|      7160⌶n
|      ∧
      n.me.back←0 ⋄ n.both←n.me n.me ⋄ 7160⌶n
{"both":[{"back":0},{"back":0}],"me":{"back":0}}
      1(7160⌶)1
DOMAIN ERROR: Invalid left argument
|      1(7160⌶)1
|       ∧
⍝⍝ The matrix form exports to the text it came from.
      t←'{"a":[1,{"b":"x"}],"c":null,"d":true,"e":[]}'
      t≡7160⌶1(7159⌶)t
1
      7160⌶1(7159⌶)'[1,[2,[3]],4]'
[1,[2,[3]],4]
⍝⍝ Matrix-form errors name the row and its depth.
      r←1(7159⌶)'{"a":[1,2],"b":"x"}'
      r
0        1
1  a     2
2     1  3
2     2  3
1  b  x  4
      7160⌶0 4⍴0
DOMAIN ERROR: Invalid matrix or sub-matrix
|      7160⌶0 4⍴0
|      ∧
      7160⌶2 3⍴0
DOMAIN ERROR: Invalid matrix or sub-matrix
|      7160⌶2 3⍴0
|      ∧
      q←r ⋄ q[1;1]←⊂¯1 ⋄ 7160⌶q
DOMAIN ERROR: Level must be a non-negative integer in row 1 at depth 0
|      7160⌶q
|      ∧
      q←r ⋄ q[1;1]←⊂'x' ⋄ 7160⌶q
DOMAIN ERROR: Level must be a non-negative integer in row 1 at depth 0
|      7160⌶q
|      ∧
      q←r ⋄ q[1;1]←1 ⋄ 7160⌶q
DOMAIN ERROR: Level 0 expected in row 1 at depth 1
|      7160⌶q
|      ∧
      q←r ⋄ q[3;1]←0 ⋄ 7160⌶q
DOMAIN ERROR: Non-zero level expected in row 3 at depth 0
|      7160⌶q
|      ∧
      q←r ⋄ q[3;1]←3 ⋄ 7160⌶q
DOMAIN ERROR: Level increment must be no greater than 1 in row 3 at depth 3
|      7160⌶q
|      ∧
      q←r ⋄ q[4;1]←3 ⋄ 7160⌶q
DOMAIN ERROR: Invalid level increment in row 4 at depth 3
|      7160⌶q
|      ∧
      q←r ⋄ q[2;2]←⊂1 2 ⋄ 7160⌶q
DOMAIN ERROR: Name must be a character vector or scalar in row 2 at depth 1
|      7160⌶q
|      ∧
      q←r ⋄ q[3;2]←⊂'n' ⋄ 7160⌶q
DOMAIN ERROR: Name not expected in row 3 at depth 2
|      7160⌶q
|      ∧
      q←r ⋄ q[1;2]←⊂'n' ⋄ 7160⌶q
DOMAIN ERROR: Name not expected in row 1 at depth 0
|      7160⌶q
|      ∧
      q←r ⋄ q[2;4]←⊂'x' ⋄ 7160⌶q
DOMAIN ERROR: Type must be an integer in row 2 at depth 1
|      7160⌶q
|      ∧
      q←r ⋄ q[2;4]←1.5 ⋄ 7160⌶q
DOMAIN ERROR: Type must be an integer in row 2 at depth 1
|      7160⌶q
|      ∧
      q←r ⋄ q[2;4]←9 ⋄ 7160⌶q
DOMAIN ERROR: Invalid type in row 2 at depth 1
|      7160⌶q
|      ∧
      q←r ⋄ q[3;3]←⊂'x' ⋄ 7160⌶q
DOMAIN ERROR: Value does not match the specified type in row 3 at depth 2
|      7160⌶q
|      ∧
      q←r ⋄ q[5;3]←7 ⋄ 7160⌶q
DOMAIN ERROR: Value does not match the specified type in row 5 at depth 1
|      7160⌶q
|      ∧
      q←r ⋄ q[2;3]←⊂1 2 ⋄ 7160⌶q
DOMAIN ERROR: Value does not match the specified type in row 2 at depth 1
|      7160⌶q
|      ∧
      q←r ⋄ q[5;3 4]←1 5 ⋄ 7160⌶q
{"a":[1,2],"b":true}
      q←r ⋄ q[5;3 4]←(⊂'null') 5 ⋄ 7160⌶q
{"a":[1,2],"b":null}
      q←r ⋄ q[5;3 4]←'x' 5 ⋄ 7160⌶q
DOMAIN ERROR: Value does not match the specified type in row 5 at depth 1
|      7160⌶q
|      ∧
⍝⍝ JSON null is the workspace's null item, which is a value of its own: it can be named, shown and compared
      ⎕NULL
[Null]
      x←⎕NULL ⋄ x
[Null]
      ⎕NC'x'
2
      j←0(7159⌶)'{"a":null,"b":[1,null]}'
      j.a≡⎕NULL
1
      {⍵≡⎕NULL}¨j.b
0 1
      (≡⎕NULL),⍴⍴⎕NULL
0 0
⍝⍝ A name after an array of namespace references gives each one's value; one picked out is itself a reference
      j←0(7159⌶)'{"items":[{"name":"apple","n":3},{"name":"pear","n":5}]}'
      j.items.name
 apple  pear 
      +/j.items.n
8
      j.items[2].name
pear
      j.items[1].n←7 ⋄ j.items.n
7 5
      j.items.zz
VALUE ERROR
|      j.items.zz
|      ∧
