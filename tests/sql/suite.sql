-- The database the SQL cases in tests/sql/*.test run against. Every value
-- here is chosen for some case: names that differ only in case, accents,
-- Nulls in most columns, ties, an orphan order, an empty table. Change a
-- row and the expected results in the .test files change with it.

CREATE TABLE Customers (
  ID      COUNTER PRIMARY KEY,
  Name    TEXT(50) NOT NULL,
  City    TEXT(40),
  Country TEXT(30),
  Joined  DATETIME,
  Active  YESNO,
  Credit  CURRENCY
);
CREATE INDEX Name ON Customers (Name);
CREATE INDEX City ON Customers (City);

CREATE TABLE Products (
  ProductID    COUNTER PRIMARY KEY,
  Name         TEXT(50) NOT NULL,
  Price        CURRENCY,
  Category     TEXT(20),
  Discontinued YESNO
);
CREATE INDEX Category ON Products (Category);

-- [Date] is a keyword used as a column name; ID also exists in Customers.
CREATE TABLE Orders (
  ID         COUNTER PRIMARY KEY,
  CustomerID LONG,
  [Date]     DATETIME,
  Status     TEXT(10),
  Freight    DOUBLE
);
CREATE INDEX CustomerID ON Orders (CustomerID);
CREATE INDEX OrderDate ON Orders ([Date]);

CREATE TABLE OrderLines (
  LineID    COUNTER PRIMARY KEY,
  OrderID   LONG NOT NULL,
  ProductID LONG NOT NULL,
  Qty       SHORT,
  Discount  SINGLE
);
CREATE INDEX OrderID ON OrderLines (OrderID);
CREATE INDEX ProductID ON OrderLines (ProductID);

CREATE TABLE AllTypes (
  ID    COUNTER PRIMARY KEY,
  Flag  YESNO,
  Tiny  BYTE,
  Small SHORT,
  Big   LONG,
  Money CURRENCY,
  Stamp DATETIME,
  [Day] DATETIME,
  Dbl   DOUBLE,
  Sng   SINGLE,
  Dec   DECIMAL(10, 2),
  Txt   TEXT(20),
  Note  MEMO
);

CREATE TABLE Empty (
  ID     COUNTER PRIMARY KEY,
  Val    LONG,
  Amount CURRENCY,
  Txt    TEXT(10)
);

CREATE TABLE Scores (
  ID     COUNTER PRIMARY KEY,
  Player TEXT(20),
  Points LONG,
  Team   TEXT(5)
);
CREATE INDEX Points ON Scores (Points);

CREATE TABLE Words (
  ID COUNTER PRIMARY KEY,
  W  TEXT(20)
);

-- Numbers kept as text, for comparisons of text with numbers.
CREATE TABLE Codes (
  ID   COUNTER PRIMARY KEY,
  Code TEXT(10)
);

INSERT INTO Customers (Name, City, Country, Joined, Active, Credit) VALUES
  ('Smith', 'London', 'UK', #2020-01-15#, TRUE, 500),
  ('SMITH', 'london', 'UK', #2021-06-30 09:15:00#, FALSE, NULL),
  ('Jones', 'Paris', 'France', #2019-11-05#, TRUE, 1200.5),
  ('Émile', 'Lyon', 'France', NULL, TRUE, 0),
  ('Brown', NULL, 'USA', #2022-02-28#, FALSE, 250.25),
  ('Zoë', 'Berlin', 'Germany', #2020-01-15#, TRUE, 75);

INSERT INTO Products (Name, Price, Category, Discontinued) VALUES
  ('Widget', 2.5, 'Tools', FALSE),
  ('Gadget', 10, 'Tools', FALSE),
  ('Gizmo', 10, 'Toys', TRUE),
  ('Doohickey', 0.75, 'Toys', FALSE),
  ('Thingamajig', NULL, NULL, FALSE);

INSERT INTO Orders (CustomerID, [Date], Status, Freight) VALUES
  (1, #2024-01-10#, 'Shipped', 5.5),
  (1, #2024-02-29 13:45:30#, 'Open', NULL),
  (3, #2024-03-01#, 'Shipped', 12.25),
  (3, #2024-03-15 08:00:00#, 'shipped', 0),
  (6, #2023-12-31 23:59:59#, 'Cancelled', 7),
  (99, #2024-04-01#, 'Open', 3);

INSERT INTO OrderLines (OrderID, ProductID, Qty, Discount) VALUES
  (1, 1, 4, 0),
  (1, 2, 1, 0.1),
  (2, 3, 2, NULL),
  (3, 1, 10, 0.25),
  (3, 4, 3, 0),
  (4, 2, 5, 0.1),
  (5, 1, 1, 0);

INSERT INTO AllTypes (Flag, Tiny, Small, Big, Money, Stamp, [Day], Dbl, Sng, Dec, Txt, Note) VALUES
  (TRUE, 200, -5, 100000, 1234.5678, #2024-02-29 13:45:30#, #2024-02-29#, 3.14159265358979, 0.1, 12.34, 'abc', 'first memo'),
  (FALSE, 0, 32767, -1, -0.0001, #1999-12-31 23:59:59#, #2000-01-01#, -2.5, 1.5, -0.5, 'ABC', NULL),
  (FALSE, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
  (TRUE, 7, 3, 42, 0, #1900-01-01 12:00:00#, #1900-01-01#, 0.5, -2.25, 100, 'résumé', 'Ünïcödé memo');

INSERT INTO Scores (Player, Points, Team) VALUES
  ('Ann', 90, 'A'),
  ('Bob', 85, 'B'),
  ('Cid', 85, 'A'),
  ('Dee', 70, 'B'),
  ('Eve', 60, 'A'),
  ('Fay', NULL, 'B');

INSERT INTO Words (W) VALUES
  ('apple'),
  ('Banana'),
  ('cherry'),
  ('a_b'),
  ('axb'),
  ('B1'),
  ('c9'),
  ('100%'),
  ('Apple'),
  ('résumé'),
  ('resume'),
  (NULL),
  ('');

INSERT INTO Codes (Code) VALUES
  ('5'),
  ('10'),
  ('9'),
  ('7.5');

-- Exact money: cents (ten of them, a thousand times over in the cases), and
-- amounts near the ends of Currency's range that no double holds.
CREATE TABLE CentDigits (D LONG);
INSERT INTO CentDigits (D) VALUES (0), (1), (2), (3), (4), (5), (6), (7), (8), (9);
CREATE TABLE Cents (ID COUNTER PRIMARY KEY, Amount CURRENCY);
INSERT INTO Cents (Amount) VALUES (0.01), (0.01), (0.01), (0.01), (0.01), (0.01), (0.01), (0.01), (0.01), (0.01);
CREATE TABLE Ledger (ID COUNTER PRIMARY KEY, Entry TEXT(10), Amount CURRENCY);
INSERT INTO Ledger (Entry, Amount) VALUES
  ('high', 900000000000000.0001),
  ('high', 22337203685477.5806),
  ('top', 922337203685477.5807),
  ('bottom', -922337203685477.5808),
  ('tie', 0.0001),
  ('tie', 0.0002),
  ('none', NULL);

-- Names beyond ASCII, which Access matches without regard to case letter by
-- letter in every script (accents still count). Table names stay within
-- Latin-1; the Greek and Cyrillic names are columns.
CREATE TABLE [ÜBERSICHT] (
  Nr         LONG,
  [Änderung] TEXT(20),
  [Größe]    LONG
);

INSERT INTO [ÜBERSICHT] (Nr, [Änderung], [Größe]) VALUES
  (1, 'neu', 30),
  (2, 'alt', 10),
  (3, 'neu', 20),
  (4, 'alt', 45),
  (5, 'neu', NULL);

CREATE TABLE [Fremdwörter] (
  Nr        LONG,
  [Πελάτες] TEXT(20),
  [Клиенты] LONG,
  [Straße]  TEXT(20),
  [A]       LONG,
  [Ä]       LONG
);

INSERT INTO [Fremdwörter] (Nr, [Πελάτες], [Клиенты], [Straße], [A], [Ä]) VALUES
  (1, 'Αθήνα', 300, 'Ring', 1, 10),
  (2, 'Σπάρτη', 100, 'Weg', 2, 20),
  (3, 'Αθήνα', 200, 'Allee', 3, 30);

-- Dates kept as text in the forms people store them, read with CDate,
-- IsDate and the comparisons of text with dates.
CREATE TABLE DateTexts (
  ID COUNTER PRIMARY KEY,
  T  TEXT(40)
);

INSERT INTO DateTexts (T) VALUES
  ('Friday, February 10, 2012'),
  ('Fri, 10 Feb 2012'),
  ('Fri Feb 10 00:25:09 2012'),
  ('2012-02-10 00:25:09'),
  ('2/10/2012'),
  ('10.02.2012'),
  ('10/03/2008 22:34:35 am'),
  ('12:30 PM'),
  ('10-Feb-12'),
  (NULL),
  ('not a date');

-- Decimal values with every digit a Decimal(28, 10) holds, beside Currency
-- and Long columns.
CREATE TABLE Decimals (
  ID     COUNTER PRIMARY KEY,
  Label  TEXT(10),
  Amount DECIMAL(28, 10),
  Money  CURRENCY,
  Qty    LONG
);

INSERT INTO Decimals (Label, Amount, Money, Qty) VALUES
  ('nine', 9, 1.5, 9),
  ('ten', 10, 2, 10),
  ('minus', -2.5, 0, -3),
  ('tenth', 0.1, 922337203685477.5807, 1),
  ('fifth', 0.2, 0.0001, 2),
  ('big', 123456789012345678.0123456789, -1, 5),
  ('tiny', 0.0000000001, NULL, 0),
  ('none', NULL, 7.25, NULL);

-- Memo values past 255 characters: Access removes duplicates and forms
-- groups on the first 255 only. Rows 1 to 3 share those (row 3 has no more),
-- row 7 differs in the 255th.
CREATE TABLE Remarks (ID COUNTER PRIMARY KEY, Topic TEXT(10), Body MEMO);

INSERT INTO Remarks (Topic, Body) VALUES
  ('a', 'The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. abcdefghijklmnopqrstuvwxyz0123one'),
  ('a', 'The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. abcdefghijklmnopqrstuvwxyz0123two'),
  ('b', 'The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. abcdefghijklmnopqrstuvwxyz0123'),
  ('b', 'short'),
  ('c', 'SHORT'),
  ('c', NULL),
  ('d', 'The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog. abcdefghijklmnopqrstuvwxyz0129');
