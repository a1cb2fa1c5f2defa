⍝⍝ Import: one row per element, text and markup, with level, tag, content, attributes and type.
      ⎕XML '<a>x</a>'
0  a  x    5
      ⍴4⊃,⎕XML '<a>x</a>'
0 2
      ⎕XML '<a><b/>x</a>'
0  a       7
1  b       1
1     x    4
      ⎕XML '<a>x<b/>y</a>'
0  a       7
1     x    4
1  b       1
1     y    4
      ⎕XML '<a k="v" j=''w'' xml:lang = "en">t<b>u</b></a>'
0  a      k         v    7
|          j         w     
|          xml:lang  en    
1     t                  4
1  b  u                  5
⍝⍝ Declarations, DOCTYPE (with nested markup and quotes), comments and processing instructions are dropped by default, kept as rows with markup preserve.
      d←'<?xml version="1.0"?><!DOCTYPE a [<!ENTITY e "x>y">]><!-- c --><a>t<!--n--><?pi d?></a>'
      ⎕XML d
0  a  t    5
      ('markup' 'preserve')⎕XML d
0  ?xml version="1.0"?                  32
0  !DOCTYPE a [<!ENTITY e "x>y">]        8
0  !-- c --                             16
0  a                                    53
1                                  t     4
1  !--n--                               16
1  ?pi d?                               32
⍝⍝ References: predefined entities, character references, unknown entities; CDATA is taken literally.
      ⎕XML '<a>&lt;&gt;&amp;&quot;&apos; &#65;&#x42;&#x4a;&#x4A; &#x2364;</a>'
0  a  <>&"' ABJJ ⍤    5
      ⎕XML '<a v="&lt;&#65;&foo;">&foo;<![CDATA[<b>&amp;]]></a>'
0  a  ?<b>&amp;   v  <A?   5
      t←('unknown-entity' 'preserve')⎕XML '<a>x &foo; y</a>'
      ⎕UCS 3⊃t[1;]
120 32 27 102 111 111 59 32 121
      ('unknown-entity' 'preserve')⎕XML t
<a>x &foo; y</a>
⍝⍝ White space: strip (default), trim, preserve; xml:space overrides for an element and its children.
      s←'<a>  a  ',(⎕UCS 10),' b  </a>'
      ⎕UCS 3⊃,⎕XML s
97 32 98
      ⎕UCS 3⊃,('whitespace' 'trim')⎕XML s
97 32 32 13 32 98
      ⎕UCS 3⊃,('whitespace' 'preserve')⎕XML s
32 32 97 32 32 13 32 98 32 32
      ⎕XML '<a> <b xml:space="preserve"> x <c> y </c></b> <d xml:space="default"> z </d></a>'
0  a                              3
1  b        xml:space  preserve   7
2      x                          4
2  c   y                          5
1  d  z     xml:space  default    5
      ⍴⎕XML '<a>  <b/>   </a>'
2 5
      ⍴⎕XML ,' '
0 5
      ⍴⎕XML 0 5⍴⊂''
0
⍝⍝ Malformed input: each error with its message and where it was found.
      ⎕XML '<a>'
DOMAIN ERROR: Tag imbalance at end of text
|      ⎕XML'<a>'
|      ∧
      ⎕XML '<a></b>'
DOMAIN ERROR: Tag mismatch at character 6 (line 1, column 6)
|      ⎕XML'<a></b>'
|      ∧
      ⎕XML '</a>'
DOMAIN ERROR: Tag mismatch at character 3 (line 1, column 3)
|      ⎕XML'</a>'
|      ∧
      ⎕XML ,'x'
DOMAIN ERROR: Orphaned data at character 1 (line 1, column 1)
|      ⎕XML,'x'
|      ∧
      ⎕XML '<a/>x'
DOMAIN ERROR: Orphaned data at character 5 (line 1, column 5)
|      ⎕XML'<a/>x'
|      ∧
      ⎕XML '<![CDATA[x]]>'
DOMAIN ERROR: Orphaned data at character 1 (line 1, column 1)
|      ⎕XML'<![CDATA[x]]>'
|      ∧
      ⎕XML '<a>x]]>y</a>'
DOMAIN ERROR: Invalid ']]>' at character 7 (line 1, column 7)
|      ⎕XML'<a>x]]>y</a>'
|      ∧
      ⎕XML '<a><!-- x -- y --></a>'
DOMAIN ERROR: Invalid '--' in comment at character 12 (line 1, column 12)
|      ⎕XML'<a><!-- x -- y --></a>'
|      ∧
      ⎕XML '<a><!-- x'
DOMAIN ERROR: Unterminated comment at end of text
|      ⎕XML'<a><!-- x'
|      ∧
      ⎕XML '<a><![CDATA[x'
DOMAIN ERROR: Unterminated <![CDATA[ at end of text
|      ⎕XML'<a><![CDATA[x'
|      ∧
      ⎕XML '<!DOCTYPE a'
DOMAIN ERROR: Unterminated markup at end of text
|      ⎕XML'<!DOCTYPE a'
|      ∧
      ⎕XML '<?pi'
DOMAIN ERROR: Unterminated processing instruction at end of text
|      ⎕XML'<?pi'
|      ∧
      ⎕XML '<a></a'
DOMAIN ERROR: '>' expected at end of text
|      ⎕XML'<a></a'
|      ∧
      ⎕XML '<a/ >'
DOMAIN ERROR: '>' expected at character 4 (line 1, column 4)
|      ⎕XML'<a/ >'
|      ∧
      ⎕XML '<a b>'
DOMAIN ERROR: '=' expected at character 5 (line 1, column 5)
|      ⎕XML'<a b>'
|      ∧
      ⎕XML '<a b=c>'
DOMAIN ERROR: Quote expected at start of attribute value at character 6 (line 1, column 6)
|      ⎕XML'<a b=c>'
|      ∧
      ⎕XML '<a b="c'
DOMAIN ERROR: Unterminated attribute value at end of text
|      ⎕XML'<a b="c'
|      ∧
      ⎕XML '<a b="<">'
DOMAIN ERROR: '<' not allowed in attribute value at character 7 (line 1, column 7)
|      ⎕XML'<a b="<">'
|      ∧
      ⎕XML '<a b="1"c="2"/>'
DOMAIN ERROR: Attribute, '>' or '/>' expected at character 9 (line 1, column 9)
|      ⎕XML'<a b="1"c="2"/>'
|      ∧
      ⎕XML '<a $>'
DOMAIN ERROR: Attribute, '>' or '/>' expected at character 4 (line 1, column 4)
|      ⎕XML'<a $>'
|      ∧
      ⎕XML '<1a/>'
DOMAIN ERROR: Invalid tag name at character 2 (line 1, column 2)
|      ⎕XML'<1a/>'
|      ∧
      ⎕XML '<a>&;</a>'
DOMAIN ERROR: Invalid entity reference at character 5 (line 1, column 5)
|      ⎕XML'<a>&;</a>'
|      ∧
      ⎕XML '<a>&a b;</a>'
DOMAIN ERROR: Invalid entity reference at character 6 (line 1, column 6)
|      ⎕XML'<a>&a b;</a>'
|      ∧
      ⎕XML '<a>&#;</a>'
DOMAIN ERROR: Unterminated character reference at character 6 (line 1, column 6)
|      ⎕XML'<a>&#;</a>'
|      ∧
      ⎕XML '<a>&#12</a>'
DOMAIN ERROR: Unterminated character reference at character 8 (line 1, column 8)
|      ⎕XML'<a>&#12</a>'
|      ∧
      ⎕XML '<a>&#xG;</a>'
DOMAIN ERROR: Invalid character reference at character 7 (line 1, column 7)
|      ⎕XML'<a>&#xG;</a>'
|      ∧
      ⎕XML '<a>&#X41;</a>'
DOMAIN ERROR: Invalid character reference at character 6 (line 1, column 6)
|      ⎕XML'<a>&#X41;</a>'
|      ∧
      ⎕XML '<a>&#1a;</a>'
DOMAIN ERROR: Invalid character reference at character 7 (line 1, column 7)
|      ⎕XML'<a>&#1a;</a>'
|      ∧
      ⎕XML '<a>&#0;</a>'
DOMAIN ERROR: Invalid character from character reference at character 4 (line 1, column 4)
|      ⎕XML'<a>&#0;</a>'
|      ∧
      ⎕XML '<a>&#xD800;</a>'
DOMAIN ERROR: Invalid character from character reference at character 4 (line 1, column 4)
|      ⎕XML'<a>&#xD800;</a>'
|      ∧
      ⎕XML '<a>&#x100000000;</a>'
DOMAIN ERROR: Unterminated character reference at character 15 (line 1, column 15)
|      ⎕XML'<a>&#x100000000;</a>'
|      ∧
      ⎕XML '<a xml:space="keep"/>'
DOMAIN ERROR: Invalid xml:space attribute value at character 19 (line 1, column 19)
|      ⎕XML'<a xml:space="keep"/>'
|      ∧
      ⎕XML '<a>',(⎕UCS 1),'</a>'
DOMAIN ERROR: Invalid character at character 3 (line 1, column 3)
|      ⎕XML'<a>',(⎕UCS 1),'</a>'
|      ∧
      ⎕XML (⎕UCS 65535),'<a/>'
DOMAIN ERROR: Invalid character at start of text
|      ⎕XML(⎕UCS 65535),'<a/>'
|      ∧
      ⎕XML '<a>',(⎕UCS 10),'<b>',(⎕UCS 13 10),'  </c></a>'
DOMAIN ERROR: Tag mismatch at character 14 (line 3, column 5)
|      ⎕XML'<a>',(⎕UCS 10),'<b>',(⎕UCS 13 10),'  </c></a>'
|      ∧
⍝⍝ Options in the left argument.
      ('markup' 'trim')⎕XML '<a/>'
DOMAIN ERROR: Invalid option value
|      ('markup' 'trim')⎕XML'<a/>'
|                       ∧
      ('unknown-entity' 'strip')⎕XML '<a/>'
DOMAIN ERROR: Invalid option value
|      ('unknown-entity' 'strip')⎕XML'<a/>'
|                                ∧
      ('whitespace' 'replace')⎕XML '<a/>'
DOMAIN ERROR: Invalid option value
|      ('whitespace' 'replace')⎕XML'<a/>'
|                              ∧
      ('space' 'strip')⎕XML '<a/>'
DOMAIN ERROR: Invalid option name
|      ('space' 'strip')⎕XML'<a/>'
|                       ∧
      ('markup' 'keep')⎕XML '<a/>'
DOMAIN ERROR: Invalid option value
|      ('markup' 'keep')⎕XML'<a/>'
|                       ∧
      ('markup' 'strip' 'x')⎕XML '<a/>'
DOMAIN ERROR: Invalid left argument
|      ('markup' 'strip' 'x')⎕XML'<a/>'
|                            ∧
      (,⊂'markup' 'strip')⎕XML '<a/>'
0  a      1
      (⊂'markup')⎕XML '<a/>'
DOMAIN ERROR: Invalid left argument
|      (⊂'markup')⎕XML'<a/>'
|                 ∧
⍝⍝ Export: indentation, closing on the same line, escapes, numbers, markup rows and line ends.
      show←{c←⍵=⎕UCS 13 ⋄ ⎕UCS(⎕UCS ⍵)+169×c}
      show ⎕XML 2 3⍴0 'a' '' 1 'b' 'x'
<a>¶  <b>x</b>¶</a>
      show ⎕XML ⎕XML '<a k="1&quot;&amp;"><b>x &lt; y</b><c/>text</a>'
<a k="1&quot;&amp;">¶  <b>x &lt; y</b>¶  <c></c>¶  text¶</a>
      show ⎕XML ('markup' 'preserve')⎕XML d
<?xml version="1.0"?>¶<!DOCTYPE a [<!ENTITY e "x>y">]>¶<!-- c -->¶<a>¶  t¶  
|      <!--n-->¶  <?pi d?>¶</a>
      show ⎕XML 3 5⍴0 'a' '' (2 2⍴'n' 42 'm' 2.5) 0 1 'b' 1E20 (0 2⍴⊂'') 0 1 '' ('x',(⎕UCS 13 10),'y') (0 2⍴⊂'') 0
<a n="42" m="2.5">¶  <b>1E20</b>¶  x y¶</a>
      show ⎕XML 0 'e' '' ('key' 'val')
<e key="val"></e>
      show ('whitespace' 'preserve')⎕XML 1 3⍴0 'p' '  a   b  '
<p>  a   b  </p>
      show ⎕XML 1 3⍴0 'p' '  a   b  '
<p>a b</p>
      show ⎕XML 1 3⍴0 'p' (∊100⍴⊂'word ')
<p>word word word word word word word word word word word word word word¶  w
|      ord word word word word word word word word word word word word word¶ 
|       word word word word word word word word word word word word word word
|      ¶  word word word word word word word word word word word word word wo
|      rd¶  word word word word word word word word word word word word word 
|      word¶  word word word word word word word word word word word word wor
|      d word¶  word word word word word word word word word word word word w
|      ord word¶  word word¶</p>
      show ⎕XML 5 3⍴0 'a' '' 1 'b' '' 2 'c' '' 3 'd' 'x' 1 'e' ''
<a>¶  <b>¶    <c>¶      <d>x</d>¶    </c>¶  </b>¶  <e></e>¶</a>
⍝⍝ Export errors.
      ⎕XML 2 3⍴1 'a' '' 1 'b' 'x'
DOMAIN ERROR: Outer level must be 0 in row 1
|      ⎕XML 2 3⍴1'a' ''1'b' 'x'
|      ∧
      ⎕XML 2 3⍴0 'a' '' 2 'b' 'x'
DOMAIN ERROR: Level increment must be no greater than 1 in row 2
|      ⎕XML 2 3⍴0'a' ''2'b' 'x'
|      ∧
      ⎕XML 2 3⍴0 'a' '' ¯1 'b' 'x'
DOMAIN ERROR: Level must be a non-negative value in row 2
|      ⎕XML 2 3⍴0'a' ''¯1'b' 'x'
|      ∧
      ⎕XML 1 3⍴'x' 'a' ''
DOMAIN ERROR: Numeric value expected in level column in row 1
|      ⎕XML 1 3⍴'x' 'a' ''
|      ∧
      ⎕XML 1 3⍴0 (2 2⍴'ab') ''
DOMAIN ERROR: Character vector expected in tag column in row 1
|      ⎕XML 1 3⍴0(2 2⍴'ab')''
|      ∧
      ⎕XML 1 3⍴0 '1a' ''
DOMAIN ERROR: Invalid tag name in row 1
|      ⎕XML 1 3⍴0'1a' ''
|      ∧
      ⎕XML 1 3⍴0 '' 'x'
DOMAIN ERROR: Orphaned data in row 1
|      ⎕XML 1 3⍴0'' 'x'
|      ∧
      ⎕XML 1 3⍴0 'a' (⍳3)
DOMAIN ERROR: Numeric scalar or character vector expected in data column in row 1
|      ⎕XML 1 3⍴0'a'(⍳3)
|      ∧
      ⎕XML 1 3⍴0 'a' ('x',(⎕UCS 0))
DOMAIN ERROR: Invalid character in data in row 1
|      ⎕XML 1 3⍴0'a'('x',(⎕UCS 0))
|      ∧
      ⎕XML 1 4⍴0 'a' '' 5
DOMAIN ERROR: Invalid attribute array in row 1
|      ⎕XML 1 4⍴0'a' ''5
|      ∧
      ⎕XML 1 4⍴0 'a' '' (1 3⍴⊂'x')
DOMAIN ERROR: Invalid attribute array in row 1
|      ⎕XML 1 4⍴0'a' ''(1 3⍴⊂'x')
|      ∧
      ⎕XML 1 4⍴0 '' '' (1 2⍴'key' 'v')
DOMAIN ERROR: Attribute list but no tag in row 1
|      ⎕XML 1 4⍴0'' ''(1 2⍴'key' 'v')
|      ∧
      ⎕XML 1 4⍴0 'a' '' (1 2⍴5 'v')
DOMAIN ERROR: Character vector expected for attribute name in row 1
|      ⎕XML 1 4⍴0'a' ''(1 2⍴5'v')
|      ∧
      ⎕XML 1 4⍴0 'a' '' (1 2⍴'' 'v')
DOMAIN ERROR: Zero-length attribute name in row 1
|      ⎕XML 1 4⍴0'a' ''(1 2⍴'' 'v')
|      ∧
      ⎕XML 1 4⍴0 'a' '' (1 2⍴'1k' 'v')
DOMAIN ERROR: Invalid attribute name in row 1
|      ⎕XML 1 4⍴0'a' ''(1 2⍴'1k' 'v')
|      ∧
      ⎕XML 1 4⍴0 'a' '' (1 2⍴'k' (1 2))
DOMAIN ERROR: Numeric scalar or character vector expected for attribute value in row 1
|      ⎕XML 1 4⍴0'a' ''(1 2⍴'k'(1 2))
|      ∧
      ⎕XML 1 4⍴0 'a' '' (1 2⍴'k' (,⎕UCS 27))
DOMAIN ERROR: Invalid character in attribute value in row 1
|      ⎕XML 1 4⍴0'a' ''(1 2⍴'k'(,⎕UCS 27))
|      ∧
      ⎕XML 1 4⍴0 'a' '' (1 2⍴'xml:space' 'x')
DOMAIN ERROR: Invalid xml:space attribute value in row 1
|      ⎕XML 1 4⍴0'a' ''(1 2⍴'xml:space' 'x')
|      ∧
      show ⎕XML 3 4⍴0 'a' '' (1 2⍴'xml:space' 'preserve') 1 'b' ' x ' (0 2⍴⊂'') 1 '' ' y ' (0 2⍴⊂'')
<a xml:space="preserve">¶  <b> x </b>¶   y ¶</a>
      ⎕XML 1 5⍴0 'a' '' (0 2⍴⊂'') 'x'
DOMAIN ERROR: Numeric value expected in type column in row 1
|      ⎕XML 1 5⍴0'a' ''(0 2⍴⊂'')'x'
|      ∧
      ⎕XML 1 2⍴0 'a'
DOMAIN ERROR: Array has invalid number of columns
|      ⎕XML 1 2⍴0'a'
|      ∧
      ⎕XML 1 2 3⍴0
DOMAIN ERROR: Invalid right argument
|      ⎕XML 1 2 3⍴0
|      ∧
      ⎕XML 5
DOMAIN ERROR: Invalid right argument
|      ⎕XML 5
|      ∧
⍝⍝ Options through the variant operator: the capitalised spellings, a vector of pairs, nested
⍝⍝ applications (the outer one wins) and the left argument (applied last).
      ⎕XML⍠'Whitespace' 'Preserve'⊢'<a> x </a>'
0  a   x     5
      (⎕XML⍠('Whitespace' 'Trim')('Markup' 'Preserve'))'<a> x  y <!--c--></a>'
0  a               21
1          x  y     4
1  !--c--          16
      ((⎕XML⍠'Whitespace' 'Preserve')⍠'Whitespace' 'Trim')'<a> x </a>'
0  a  x    5
      ('whitespace' 'preserve')(⎕XML⍠'Whitespace' 'Trim')'<a> x </a>'
0  a   x     5
      P←⎕XML⍠'UnknownEntity' 'Preserve'
      ⎕UCS 3⊃,P'<a>&foo;</a>'
27 102 111 111 59
      P P'<a>&foo;</a>'
<a>&foo;</a>
      ⎕XML⍠'Whitespace' 'Preserve'⊢1 3⍴0 'a' ' x '
<a> x </a>
      ⎕XML⍠'whitespace' 'preserve'⊢'<a/>'
DOMAIN ERROR: Invalid option name
|      ⎕XML⍠'whitespace' 'preserve'⊢'<a/>'
|      ∧
      ⎕XML⍠'Markup' 'Trim'⊢'<a/>'
DOMAIN ERROR: Invalid option value
|      ⎕XML⍠'Markup' 'Trim'⊢'<a/>'
|      ∧
      ⎕XML⍠1⊢'<a/>'
DOMAIN ERROR: Invalid left argument
|      ⎕XML⍠1⊢'<a/>'
|      ∧
