SELECT * FROM A FULL OUTER JOIN B ON A.k = B.k
-- error: FULL OUTER JOIN is not supported by Access
----
SELECT * FROM A FULL JOIN B ON A.k = B.k
-- error: FULL OUTER JOIN
----
SELECT * FROM A CROSS JOIN B
-- error: CROSS JOIN is not Access SQL
----
SELECT * FROM A NATURAL JOIN B
-- error: NATURAL JOIN is not Access SQL
----
SELECT * FROM A INNER JOIN B USING (k)
-- error: USING is not Access SQL
----
SELECT * FROM A JOIN B ON A.k = B.k
-- error: Access needs INNER, LEFT or RIGHT before JOIN
----
SELECT * FROM A INNER JOIN B
-- error: a join needs ON
----
SELECT * FROM A INNER JOIN B ON A.k = B.k INNER JOIN C ON B.j = C.j
-- error: needs parentheses
----
SELECT * FROM t LIMIT 10
-- error: LIMIT and OFFSET are not Access SQL; use SELECT TOP n
----
SELECT * FROM t ORDER BY a LIMIT 10 OFFSET 5
-- error: use SELECT TOP n
----
SELECT * FROM t ORDER BY a OFFSET 5
-- error: use SELECT TOP n
----
SELECT a FROM t ORDER BY a FETCH FIRST 5 ROWS ONLY
-- error: FETCH FIRST is not Access SQL
----
SELECT 1 LIMIT 1
-- error: LIMIT and OFFSET
----
SELECT a || b FROM t
-- error: '||' is not an Access SQL operator; use &
----
SELECT a FROM t WHERE a != 1
-- error: use <>
----
SELECT a FROM t WHERE a == 1
-- error: use =
----
SELECT x::int FROM t
-- error: '::' casts are not Access SQL
----
SELECT 7 % 2
-- error: use Mod
----
SELECT Sum(x) OVER (PARTITION BY y) FROM t
-- error: window functions
----
SELECT Count(DISTINCT x) FROM t
-- error: Access does not allow DISTINCT or ALL inside an aggregate
----
SELECT * FROM t; SELECT * FROM u
-- error: characters found after end of SQL statement
----
SELECT 1;;
-- error: characters found after end of SQL statement
----
SELECT 1 -- a comment
-- error: at line 1, column 15
----
SELECT 1 /* comment */
-- error: comments are not allowed
----
SELECT a b FROM t
-- error: a column alias needs AS
----
SELECT CASE WHEN a = 1 THEN 2 END FROM t
-- error: CASE is not Access SQL; use IIf
----
SELECT CAST(a AS INTEGER) FROM t
-- error: CAST is not Access SQL
----
SELECT a FROM t INTERSECT SELECT a FROM u
-- error: INTERSECT and EXCEPT are not Access SQL
----
SELECT a FROM t EXCEPT SELECT a FROM u
-- error: INTERSECT and EXCEPT
----
WITH c AS (SELECT 1) SELECT * FROM c
-- error: common table expressions
----
SELECT * FROM t WHERE a LIKE 'x!%' ESCAPE '!'
-- error: no ESCAPE clause
----
SELECT * FROM t IN [dBASE IV;DATABASE=c:\data]
-- error: Not supported by this program
-- error: IN with a dBASE IV source
----
SELECT * FROM t IN
-- error: expected the database after IN
----
SELECT * FROM t IN '' [;PWD=x]
-- error: IN names no database file
----
SELECT * INTO x IN 'other.mdb' FROM t
-- error: IN with an external database
----
INSERT INTO t IN 'other.mdb' SELECT * FROM u
-- error: IN with an external database
----
SELECT * FROM db.owner.tbl
-- error: Access has no schemas
----
SELECT a.b.c FROM t
-- error: at most two parts
----
SELECT * FROM t WHERE x BETWEEN 1
-- error: Between without And
----
SELECT * FROM t WHERE x IN 1, 2
-- error: In operator without ()
----
SELECT * FROM t WHERE x IN ()
-- error: In needs at least one value
----
SELECT * FROM t WHERE x IS 5
-- error: invalid use of Is
----
SELECT * FROM t WHERE x = ANY (1, 2)
-- error: ANY, SOME and ALL need a subquery
----
SELECT * FROM t WHERE EXISTS t
-- error: Exists needs a subquery
----
SELECT * FROM t WHERE x IN (SELECT a FROM u UNION SELECT b FROM v)
-- error: unions are not allowed in a subquery
----
SELECT (SELECT a FROM u UNION SELECT b FROM v) FROM t
-- error: unions are not allowed in a subquery
----
SELECT a FROM (SELECT a INTO z FROM u) AS d
-- error: SELECT ... INTO is only allowed as a statement of its own
----
SELECT a FROM t UNION SELECT a INTO z FROM u
-- error: SELECT ... INTO is only allowed
----
SELECT TOP n FROM t
-- error: invalid TOP argument
----
SELECT TOP 0 a FROM t
-- error: invalid TOP argument
----
SELECT TOP 2.5 a FROM t
-- error: invalid TOP argument
----
SELECT TOP ? a FROM t
-- error: invalid TOP argument
----
SELECT TOP 101 PERCENT a FROM t
-- error: PERCENT needs n <= 100
----
DELETE TOP 5 FROM t
-- error: a TOP clause is not allowed in delete queries
----
DELETE a FROM t
-- error: name the table whose rows are deleted as table.*
----
INSERT INTO t VALUES (1), (2)
-- error: one row per INSERT
----
INSERT INTO t (a) 5
-- error: expected VALUES or SELECT
----
UPDATE t SET a = 1 FROM u
-- error: Access has no UPDATE ... FROM
----
TRANSFORM Sum(x) SELECT a FROM t PIVOT b
-- error: needs GROUP BY
----
TRANSFORM Sum(x) SELECT a FROM t GROUP BY a HAVING Sum(x) > 1 PIVOT b
-- error: cannot use HAVING clause in TRANSFORM statement
----
TRANSFORM Sum(x) SELECT a FROM t GROUP BY a
-- error: incomplete input
-- error: expected PIVOT
----
PARAMETERS p Long SELECT * FROM t
-- error: expected ';' after the PARAMETERS declaration
----
PARAMETERS p; SELECT p
-- error: expected the parameter's data type
----
PARAMETERS p Blob; SELECT p
-- error: unknown data type 'Blob'
----
PARAMETERS a Long; PARAMETERS b Long; SELECT a
-- error: only one PARAMETERS declaration
----
SELECT [Order Details FROM t
-- error: invalid bracketing of name
----
SELECT [a[b]] FROM t
-- error: invalid bracketing of name
----
SELECT 'unterminated FROM t
-- error: unterminated string literal
----
SELECT #1/1/2000 FROM t
-- error: unterminated date literal
----
SELECT * FROM t WHERE d = #2/30/2001#
-- error: syntax error in date
----
SELECT * FROM t WHERE d = #2004/20/12#
-- error: syntax error in date
----
SELECT * FROM t WHERE d = #1/1/0050#
-- error: date is out of range
----
SELECT 1e999
-- error: number is out of range
----
SELECT a FROM t WHERE
-- error: incomplete input
----
SELECT FROM t
-- error: reserved word
----
SELECT a FROM t WHERE a = b c
-- error: expected the end of the statement
----
SELECT a FROM Order
-- error: 'Order' is a reserved word
----
SELECT SELECT a FROM t
-- error: a subquery must be in parentheses
----
SELECT * FROM SELECT a FROM t
-- error: a derived table must be in parentheses
----
FROM t SELECT a
-- error: expected DELETE, INSERT, PROCEDURE, SELECT, or UPDATE
----
GO
-- error: expected DELETE, INSERT, PROCEDURE, SELECT, or UPDATE
----
GRANT SELECT ON TABLE t TO u
-- error: security statements
----
CREATE USER bob
-- error: security statements
----
ALTER DATABASE PASSWORD neu alt
-- error: security statements
----
CREATE TABLE t (a LONG, b TEXT(10) WITH FOO)
-- error: expected token: COMPRESSION or COMP
----
CREATE TABLE t (a LONG REFERENCES p ON DELETE RESTRICT)
-- error: expected token: CASCADE, SET NULL, or NO ACTION
----
CREATE TABLE t ()
-- error: expected a column name
----
CREATE TABLE t (CONSTRAINT pk PRIMARY KEY (a))
-- error: a table needs at least one column
----
ALTER TABLE t ADD COLUMN a LONG, ADD COLUMN b LONG
-- error: one change per statement
----
CREATE INDEX i ON t (a) WITH
-- error: expected PRIMARY, DISALLOW NULL or IGNORE NULL
----
CREATE VIEW v SELECT * FROM t
-- error: expected AS before the view's SELECT
----
CREATE VIEW v AS DELETE FROM t
-- error: only simple SELECT queries are allowed in VIEWS
----
EXECUTE
-- error: expected query name after EXECUTE
----
DROP SCHEMA s
-- error: expected TABLE, INDEX, VIEW or PROCEDURE after DROP
----
SELECT * FROM t WHERE x = @y
-- error: unexpected character '@'
----
SELECT a FROM t WITH CHECK OPTION
-- error: expected OWNERACCESS OPTION after WITH
----
SELECT * FROM t ORDER a
-- error: expected BY after ORDER
----
SELECT * FROM t GROUP a
-- error: expected BY after GROUP
