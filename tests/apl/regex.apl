⍝⍝ ⎕R and ⎕S: regular-expression replace and search over text.
⍝⍝ Replacement with transformation strings: the match, subpatterns, the block, escapes, case.
      'a' ⎕R 'b' ⊢ 'banana'
bbnbnb
      '(\w+) (\w+)' ⎕R '\2 \1' ⊢ 'hello world'
world hello
      '\w+' ⎕R '<\u&>' ⊢ 'hello wörld'
<HELLO> <W>ö<RLD>
      '(\w+)' ⎕R '\l\1' ⊢ 'HELLO ÀÉ'
hello ÀÉ
      'b' ⎕R '[%]' ⊢ 'abc'
a[abc]c
      'b' ⎕R '[\u%]' ⊢ 'abc'
a[ABC]c
      '(a)(x)?' ⎕R '[\1\2]' ⊢ 'ab'
[a]b
      '(?<first>\w)(\w*)' ⎕R '\<first>.\(2)' ⊢ 'word up'
w.ord u.p
      'b' ⎕R '\\\&\%\x{41}\x{20AC}' ⊢ 'abc'
a\&%A€c
      ⎕UCS 'b' ⎕R '\n\r' ⊢ 'abc'
97 10 13 99
      '(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)' ⎕R '\(11)\(10)\9\0' ⊢ 'abcdefghijk'
kjiabcdefghijk
⍝⍝ Several patterns: each has its own transformation, or one serves all; the leftmost match wins,
⍝⍝ and of matches starting at the same place the first pattern's.
      ('an' 'b') ⎕R ('1' 'xy') ⊢ 'banana'
xy11a
      ('an' 'a' 'b') ⎕R '<&>' ⊢ 'banana'
<b><an><an><a>
      ('a' 'an') ⎕S 3 ⊢ 'banana'
0 0 0
      ('an' 'a') ⎕S 3 ⊢ 'banana'
0 0 1
      ('x' 'y') ⎕R ('1' '22' '3') ⊢ 'xy'
DOMAIN ERROR: Invalid transformation format
|      ('x' 'y')⎕R('1' '22' '3')⊢'xy'
|      ∧
⍝⍝ Empty matches advance by one character and never repeat at the same place.
      'x*' ⎕R '-' ⊢ 'abc'
-a-b-c-
      '' ⎕S 0 ⊢ 'abc'
0 1 2 3
      '\b' ⎕R '|' ⊢ 'ab cd'
||ab| |cd|
      'a*' ⎕S 0 1 ⊢ 'baaac'
 0 0  1 3  4 0  5 0 
      '' ⎕R 'x' ⊢ ''
x
      'a' ⎕S 0 ⊢ ''

⍝⍝ ⎕S: transformation strings and the codes 0 offset, 1 length, 2 block number, 3 pattern number.
      'an' ⎕S '&!' ⊢ 'banana'
 an!  an! 
      'a(n)' ⎕S '\1' ⊢ 'banana'
 n  n 
      'a' ⎕S 0 ⊢ 'banana'
1 3 5
      'an' ⎕S 0 1 2 3 ⊢ 'banana'
 1 2 0 0  3 2 0 0 
      'o' ⎕S 2 0 ⊢ 'foo' 'bar' 'boo'
 0 1  0 2  2 9  2 10 
      ⍴'z' ⎕S 0 ⊢ 'abc'
0
      ⍴'z' ⎕S '&' ⊢ 'abc'
0
⍝⍝ Non-ASCII text: offsets and lengths count characters, not bytes.
      '.' ⎕S 0 1 ⊢ 'aé€😀b'
 0 1  1 1  2 1  3 1  4 1 
      '€+' ⎕S 0 1 ⊢ 'x€€y€'
 1 2  4 1 
      'é' ⎕R 'E' ⊢ 'café crème'
cafE crème
      '(?i)É' ⎕S 0 ⊢ 'éÉ'
0 1
      '😀' ⎕R '\x{1F600}!' ⊢ 'a😀b'
a😀!b
⍝⍝ Lines: a vector of lines gives a vector of lines; a document is split at its line endings
⍝⍝ (LF, CR, CRLF) and ^ and $ match at each line in Mode L and M, only at the ends in Mode D.
      'b' ⎕R 'X' ⊢ 'abc' 'bcd' ''
 aXc  Xcd   
      ⎕UCS '^' ⎕R '>' ⊢ 'ab',(⎕UCS 10),'cd',(⎕UCS 13 10),'ef',(⎕UCS 13),'g'
62 97 98 10 62 99 100 13 10 62 101 102 13 62 103
      '^' ⎕R '>' ⍠ 'Mode' 'D' ⊢ 'ab' 'cd'
 >ab  cd 
      '^' ⎕R '>' ⍠ 'Mode' 'M' ⊢ 'ab' 'cd'
 >ab  >cd 
      '$' ⎕R '<' ⍠ 'Mode' 'M' ⊢ 'ab' 'cd'
 ab<  cd< 
      '$' ⎕R '<' ⍠ 'Mode' 'D' ⊢ 'ab' 'cd'
 ab  cd< 
      'x' ⎕R 'y' ⍠ 'Mode' 'D' ⊢ 'ax' 'b' ''
 ay  b   
      'b\nc' ⎕R 'X' ⍠ 'Mode' 'D' ⊢ 'ab' 'cd'
 aXd 
      'b\nc' ⎕R 'X' ⊢ 'ab' 'cd'
 ab  cd 
      'b' ⎕R '1\n2' ⊢ 'abc' 'd'
 a1  2c  d 
      ⎕UCS 'b' ⎕R '1\n2' ⊢ 'abc'
97 49 10 50 99
      'o' ⎕S 0 ⊢ 'foo' 'bar' 'boo'
1 2 9 10
      'o' ⎕S 0 ⊢ 'foo',(⎕UCS 10),'bar',(⎕UCS 10),'boo'
1 2 9 10
⍝⍝ Options.
      'A' ⎕R 'x' ⍠ 'IC' 1 ⊢ 'banana'
bxnxnx
      'A' ⎕R 'x' ⍠ 1 ⊢ 'banana'
bxnxnx
      'A' ⎕R 'x' ⍠ 0 ⊢ 'banana'
banana
      'a.c' ⎕S '&' ⍠ 'Mode' 'D' ⊢ 'ab' 'cd'

      'b.c' ⎕R 'X' ⍠ ('Mode' 'D')('DotAll' 1) ⊢ 'ab' 'cd'
 aXd 
      'a.*n' ⎕S '&' ⊢ 'banana'
 anan 
      'a.*n' ⎕S '&' ⍠ 'Greedy' 0 ⊢ 'banana'
 an  an 
      'aa' ⎕S 0 ⍠ 'OM' 1 ⊢ 'aaaa'
0 1 2
      'a*' ⎕S '&' ⍠ 'OM' 1 ⊢ 'baa'
   aa  a   
      ⎕UCS 'x' ⎕R 'y' ⍠ 'EOL' 'CRLF' ⊢ 'ax',(⎕UCS 10),'b'
97 121 13 10 98
      ⎕UCS 'x' ⎕R 'y' ⍠ ('EOL' 'CR')('ResultText' 'Simple') ⊢ 'ax' 'b'
97 121 13 98
      'x' ⎕R 'y' ⍠ 'ResultText' 'Nested' ⊢ 'ax',(⎕UCS 10),'b'
 ay  b 
      'x' ⎕R 'y' ⍠ 'ResultText' 'Implied' ⊢ 'ax'
ay
⍝⍝ NEOL also takes VT, FF, NEL, LS and PS as line endings.
      '^' ⎕R '>' ⊢ 'a',(⎕UCS 8232),'b'
>a b
      '^' ⎕R '>' ⍠ 'NEOL' 1 ⊢ 'a',(⎕UCS 8232),'b'
>a >b
⍝⍝ Options of nested applications: the outer one wins; ⎕OPT is the same operator as ⍠.
      ('A' ⎕R 'x' ⍠ 'IC' 1)⍠'IC' 0 ⊢ 'Aa'
xa
      ('A' ⎕R 'x' ⍠ 'IC' 0)⍠'IC' 1 ⊢ 'Aa'
xx
      ('A' ⎕R 'x' ⍠ 'IC' 1)⍠'Mode' 'D' ⊢ 'Aa'
xx
      'A' ⎕R 'x' ⎕OPT 'IC' 1 ⊢ 'Aa'
xx
      f←'A' ⎕R 'x' ⍠ 'IC' 1 ⋄ f 'Aa' ⋄ f 'bAB'
xx
bxB
⍝⍝ A match limit stops runaway backtracking; a negative value limits the depth instead.
      '^(\w+\s?)*$' ⎕S 0 ⍠ 'ML' 1000 ⊢ (30⍴'ab '),'!'
DOMAIN ERROR: Invalid pattern: match limit exceeded
|      '^(\w+\s?)*$'⎕S 0⍠'ML'1000⊢(30⍴'ab '),'!'
|                      ∧
      '^(\w+\s?)*$' ⎕S 0 ⍠ 'ML' ¯10 ⊢ (30⍴'ab '),'!'
DOMAIN ERROR: Invalid pattern: matching depth limit exceeded
|      '^(\w+\s?)*$'⎕S 0⍠'ML'¯10⊢(30⍴'ab '),'!'
|                      ∧
      '^(\w+\s?)*$' ⎕S 0 ⍠ 'ML' 0 ⊢ 'ab ab'
0
      'a' ⎕S 0 ⍠ 'ML' ¯5 ⊢ 'aa'
0 1
      'x' ⎕R 'y' ⍠ 'Enc' 'UTF-8' ⊢ 'x'
y
⍝⍝ Errors in transformation strings.
      'a' ⎕R '\q' ⊢ 'banana'
DOMAIN ERROR: Invalid escape sequence in transformation string
|      'a'⎕R'\q'⊢'banana'
|      ∧
      'a' ⎕R 'x\' ⊢ 'banana'
DOMAIN ERROR: Unterminated sequence in transformation string
|      'a'⎕R'x\'⊢'banana'
|      ∧
      'a' ⎕R '\(64)' ⊢ 'banana'
DOMAIN ERROR: Subpattern reference out of range in transformation string
|      'a'⎕R'\(64)'⊢'banana'
|      ∧
      'a' ⎕R '\(1a)' ⊢ 'banana'
DOMAIN ERROR: Invalid numeric in transformation string
|      'a'⎕R'\(1a)'⊢'banana'
|      ∧
      'a' ⎕R '\()' ⊢ 'banana'
DOMAIN ERROR: Invalid numeric in transformation string
|      'a'⎕R'\()'⊢'banana'
|      ∧
      'a' ⎕R '\<>' ⊢ 'banana'
DOMAIN ERROR: Name expected between '<' and '>' in transformation string
|      'a'⎕R'\<>'⊢'banana'
|      ∧
      'a' ⎕R '\<a-b>' ⊢ 'banana'
DOMAIN ERROR: Invalid subpattern name in transformation string
|      'a'⎕R'\<a-b>'⊢'banana'
|      ∧
      'a' ⎕R '\<nope>' ⊢ 'banana'
DOMAIN ERROR: 'nope': invalid subpattern name
|      'a'⎕R'\<nope>'⊢'banana'
|      ∧
      'a' ⎕R '\x{}' ⊢ 'banana'
DOMAIN ERROR: Invalid hexadecimal codepoint
|      'a'⎕R'\x{}'⊢'banana'
|      ∧
      'a' ⎕R '\x{12G}' ⊢ 'banana'
DOMAIN ERROR: Invalid hexadecimal codepoint
|      'a'⎕R'\x{12G}'⊢'banana'
|      ∧
      'a' ⎕R '\x{110000}' ⊢ 'banana'
DOMAIN ERROR: Invalid hexadecimal codepoint
|      'a'⎕R'\x{110000}'⊢'banana'
|      ∧
      'a' ⎕R '\x41' ⊢ 'banana'
DOMAIN ERROR: Invalid hexadecimal codepoint
|      'a'⎕R'\x41'⊢'banana'
|      ∧
      'a' ⎕R '\ux' ⊢ 'banana'
DOMAIN ERROR: Invalid escape sequence in transformation string
|      'a'⎕R'\ux'⊢'banana'
|      ∧
      'a' ⎕R '\(1' ⊢ 'banana'
DOMAIN ERROR: Unterminated sequence in transformation string
|      'a'⎕R'\(1'⊢'banana'
|      ∧
      ⎕DMX.EN
11
      ⎕DMX.Category
Search Replace
⍝⍝ Errors in patterns, operands, arguments and options.
      '(' ⎕R 'x' ⊢ 'abc'
DOMAIN ERROR: Regular expression 0 (indexed from 0), offset 1: missing closing parenthesis
|      '('⎕R'x'⊢'abc'
|      ∧
      ('ok' 'a[') ⎕R 'x' ⊢ 'abc'
DOMAIN ERROR: Regular expression 1 (indexed from 0), offset 2: missing terminating ] for character class
|      ('ok' 'a[')⎕R'x'⊢'abc'
|      ∧
      'é(' ⎕S 0 ⊢ 'abc'
DOMAIN ERROR: Regular expression 0 (indexed from 0), offset 2: missing closing parenthesis
|      'é('⎕S 0⊢'abc'
|      ∧
      1 ⎕R 'x' ⊢ 'abc'
DOMAIN ERROR: Invalid regular expression format
|      1 ⎕R'x'⊢'abc'
|      ∧
      'a' ⎕R 1 ⊢ 'abc'
DOMAIN ERROR: Invalid transformation format
|      'a'⎕R 1⊢'abc'
|      ∧
      'a' ⎕S 4 ⊢ 'abc'
DOMAIN ERROR: Invalid transformation format
|      'a'⎕S 4⊢'abc'
|      ∧
      'a' ⎕S 0 1 2 3 0 ⊢ 'abc'
DOMAIN ERROR: Invalid transformation format
|      'a'⎕S 0 1 2 3 0⊢'abc'
|      ∧
      'a' ⎕R 'x' ⊢ 2 2⍴'abcd'
DOMAIN ERROR: Invalid input source
|      'a'⎕R'x'⊢2 2⍴'abcd'
|      ∧
      'a' ⎕R 'x' ⊢ 'ab' 1
DOMAIN ERROR: Invalid input source
|      'a'⎕R'x'⊢'ab'1
|      ∧
      'a' ⎕R 'x' ⍠ 'OM' 1 ⊢ 'abc'
DOMAIN ERROR: Option 'OM': only allowed with search
|      'a'⎕R'x'⍠'OM'1⊢'abc'
|           ∧
      'a' ⎕S 0 ⍠ 'ResultText' 'Simple' ⊢ 'abc'
DOMAIN ERROR: Option 'ResultText': only allowed with replace
|      'a'⎕S 0⍠'ResultText' 'Simple'⊢'abc'
|            ∧
      'a' ⎕R 'x' ⍠ 'Mode' 'X' ⊢ 'abc'
DOMAIN ERROR: Option 'Mode': invalid value
|      'a'⎕R'x'⍠'Mode' 'X'⊢'abc'
|           ∧
      'a' ⎕R 'x' ⍠ 'IC' 2 ⊢ 'abc'
DOMAIN ERROR: Option 'IC': invalid value
|      'a'⎕R'x'⍠'IC'2⊢'abc'
|           ∧
      'a' ⎕R 'x' ⍠ 'EOL' 'LFCR' ⊢ 'abc'
DOMAIN ERROR: Option 'EOL': invalid value
|      'a'⎕R'x'⍠'EOL' 'LFCR'⊢'abc'
|           ∧
      'a' ⎕R 'x' ⍠ 'Enc' 'EBCDIC' ⊢ 'abc'
DOMAIN ERROR: Option 'Enc': invalid value
|      'a'⎕R'x'⍠'Enc' 'EBCDIC'⊢'abc'
|           ∧
      'a' ⎕R 'x' ⍠ 'Colour' 1 ⊢ 'abc'
OPTION ERROR: Invalid use of variant: unknown option 'Colour'
|      'a'⎕R'x'⍠'Colour'1⊢'abc'
|           ∧
      'a' ⎕R 'x' ⊢ 'a',⎕UCS 55296
DOMAIN ERROR: Unicode to UTF-8 translation error
|      'a'⎕R'x'⊢'a',⎕UCS 55296
|      ∧
      +⍠1 ⊢ 2
DOMAIN ERROR: Invalid use of variant
|      +⍠1⊢2
|      ∧
⍝⍝ A function as the transformation: it gets a namespace describing each match and returns the text.
      '\w+' ⎕R {⌽⍵.Match} ⊢ 'hello wörld'
olleh wödlr
      'a' ⎕R {⍵} ⊢ 'xa'
DOMAIN ERROR: Transformation function should return a character vector
|      'a'⎕R{⍵}⊢'xa'
|             ∧
      '(?<x>\w)(\w)?(z)?' ⎕S {⍕∊⍵.BlockNum ⍵.PatternNum ⍵.Offsets ⍵.Lengths} ⊢ 'ab' 'cd e'
 0 0 0 0 1 ¯1 2 1 1 ¯1  1 0 0 0 1 ¯1 2 1 1 ¯1  1 0 3 3 ¯1 ¯1 1 1 ¯1 ¯1 
      ('\d' '(?<word>\w)(?<rest>\w*)') ⎕S {⍵.Pattern,':',∊⍵.Names,¨'/'} ⊢ 'a1'
 (?<word>\w)(?<rest>\w*):word/rest/ 
      'é' ⎕S {⍵.Block,⍕⍵.ReplaceMode ⍵.TextOnly} ⊢ 'aé'
 aé0 1 
      '.' ⎕R {⍵.Match,⍵.Match} ⍠ 'Mode' 'D' ⊢ 'é€' 'b'
 éé€€  bb 
      'b' ⎕R {⍬} ⊢ 'abc'
ac
      'b' ⎕R {42} ⊢ 'abc'
DOMAIN ERROR: Transformation function should return a character vector
|      'b'⎕R{42}⊢'abc'
|              ∧
      'b' ⎕R {1 2⍴'xy'} ⊢ 'abc'
DOMAIN ERROR: Transformation function should return a character vector
|      'b'⎕R{1 2⍴'xy'}⊢'abc'
|               ∧
      f←{} ⋄ 'b' ⎕R f ⊢ 'abc'
VALUE ERROR: Transformation function should return a value
|      'b'⎕R f⊢'abc'
|            ∧
      'b' ⎕R {1÷0} ⊢ 'abc'
DOMAIN ERROR: Divide by zero
|      'b'⎕R{1÷0}⊢'abc'
|             ∧
      'b' ⎕R {'b' ⎕R '[\u&]' ⊢ ⍵.Block} ⊢ 'abc'
aa[B]cc
⍝⍝ ---- A plain-text pattern is found by a byte search over the document: the same offsets,
⍝⍝ lengths, block numbers and overlaps as the search line by line, with CR LF and characters
⍝⍝ beyond ASCII before the matches (Show marks CR with ↵ and LF with ¶)
      Show←{('\r' '\n') ⎕R ((,'↵') (,'¶')) ⍠ 'Mode' 'D' ⊢ ⍵}
      t←'aé€b',(⎕UCS 13 10),'ab',(⎕UCS 13),'xab',(⎕UCS 10),'abab'
      'ab' ⎕S 0 1 2 3 ⊢ t
 6 2 1 0  10 2 2 0  13 2 3 0  15 2 3 0 
      'aba' ⎕S 0 ⍠ 'OM' 1 ⊢ 'abababa'
0 2 4
      Show 'ab' ⎕R '[%]' ⊢ t
aé€b↵¶[ab]↵x[xab]¶[abab][abab]
      Show 'ab' ⎕R '<&>' ⍠ 'EOL' 'LF' ⊢ t
aé€b¶<ab>¶x<ab>¶<ab><ab>
      Show 'é€' ⎕R '\u&' ⍠ 'Mode' 'D' ⊢ t
aÉ€b↵¶ab↵xab¶abab
      '😀' ⎕S 0 1 ⊢ 'a😀b😀'
 1 1  3 1 
      'ab' ⎕R 'x' ⊢ ''

