SELECT * FROM Customers
----
select * from customers;
----
   
  SELECT CompanyName, City FROM Customers WHERE Country = 'UK'
----
SELECT ALL a FROM t
----
SELECT DISTINCT City FROM Customers
----
SELECT DISTINCTROW Customers.CompanyName FROM Customers INNER JOIN Orders ON Customers.CustomerID = Orders.CustomerID
----
SELECT TOP 25 Name, Score FROM T ORDER BY Score DESC
----
SELECT DISTINCT TOP 10 PERCENT Name FROM T ORDER BY Name
----
SELECT t.*, u.x FROM t, u WHERE t.k = u.k
----
SELECT *, 1 AS One FROM t
----
SELECT Price * Qty AS Amount, Amount * 0.2 AS Tax FROM T
----
SELECT [Order Details].[Unit Price] AS [Price each] FROM [Order Details]
----
SELECT `Order Details`.Quantity FROM `Order Details`
----
SELECT e.LastName FROM Employees AS e
----
SELECT e.LastName FROM Employees e
----
SELECT o.OrderID, c.CompanyName, e.LastName
FROM (Orders AS o
      INNER JOIN Customers AS c ON o.CustomerID = c.CustomerID)
      INNER JOIN Employees AS e ON o.EmployeeID = e.EmployeeID;
----
SELECT * FROM ((A INNER JOIN B ON A.k = B.k) INNER JOIN C ON B.j = C.j) LEFT JOIN D ON C.m = D.m
----
SELECT * FROM A INNER JOIN (B INNER JOIN C ON B.j = C.j) ON A.k = B.k
----
SELECT * FROM A LEFT OUTER JOIN B ON (A.x = B.x AND A.y = B.y)
----
SELECT * FROM A RIGHT JOIN B ON A.x >= B.x
----
SELECT * FROM A RIGHT OUTER JOIN B ON A.x <> B.x OR A.y < B.y
----
SELECT d.n FROM (SELECT Count(*) AS n FROM t) AS d
----
SELECT Count(*) FROM (SELECT DISTINCT x FROM t)
----
SELECT d.n FROM (SELECT a AS n FROM t UNION SELECT b FROM u) d
----
SELECT x.a FROM [SELECT a FROM t WHERE b > 1]. AS x
----
SELECT Count(*) FROM (SELECT DISTINCT x FROM t) AS q
----
SELECT City, Count(*) AS n FROM Customers GROUP BY City HAVING Count(*) > 1
----
SELECT Year(d), Month(d), Sum(x) FROM t GROUP BY Year(d), Month(d) ORDER BY 1, 2 DESC
----
SELECT Max(x) FROM t HAVING Max(x) > 0
----
SELECT CompanyName, City FROM Customers WHERE Country = 'UK'
UNION ALL
SELECT CompanyName, City FROM Suppliers WHERE Country = 'UK'
UNION
TABLE [New Accounts]
ORDER BY City, CompanyName;
----
(SELECT a FROM t) UNION (SELECT b FROM u) ORDER BY a
----
SELECT a FROM t UNION SELECT TOP 5 b FROM u ORDER BY b
----
SELECT LastName, Title, Salary FROM Employees AS T1
WHERE Salary >= (SELECT Avg(Salary) FROM Employees WHERE T1.Title = Employees.Title);
----
SELECT * FROM t WHERE x IN (SELECT TOP 5 y FROM u ORDER BY y)
----
SELECT * FROM t WHERE x NOT IN (1, 2, 3) AND y IN ('a', "b")
----
SELECT * FROM t WHERE EXISTS (SELECT * FROM u WHERE u.k = t.k)
----
SELECT * FROM t WHERE NOT EXISTS (SELECT * FROM u WHERE u.k = t.k)
----
SELECT * FROM t WHERE x > ALL (SELECT y FROM u) OR x = ANY (SELECT y FROM v) OR x < SOME (SELECT y FROM w)
----
SELECT (SELECT Max(x) FROM u WHERE u.k = t.k) AS m FROM t
----
TRANSFORM Sum(od.Quantity) AS Total
SELECT p.ProductName, Sum(od.Quantity) AS [All Quarters]
FROM Products AS p INNER JOIN [Order Details] AS od ON p.ProductID = od.ProductID
WHERE Year(od.OrderDate) = 1997
GROUP BY p.ProductName
ORDER BY p.ProductName
PIVOT "Q" & DatePart("q", od.OrderDate) IN ("Q1", "Q2", "Q3", "Q4");
----
TRANSFORM Count(*) SELECT a FROM t GROUP BY a PIVOT b
----
TRANSFORM Sum(x) SELECT a FROM t GROUP BY a PIVOT Format(d, "yyyy") WITH OWNERACCESS OPTION
----
SELECT a FROM t WITH OWNERACCESS OPTION
----
SELECT a FROM t ORDER BY a WITH OWNERACCESS OPTION
----
PARAMETERS [Low price] Currency, [Beginning date] DateTime;
SELECT OrderID, OrderAmount FROM Orders
WHERE OrderAmount > [Low price] AND OrderDate >= [Beginning date];
----
PARAMETERS [Enter name:] Text ( 255 );
SELECT * FROM Customers WHERE CompanyName Like [Enter name:] & "%";
----
PARAMETERS p1 Long, p2 DOUBLE PRECISION, p3 NATIONAL CHARACTER VARYING (20); SELECT p1, p2, p3
----
SELECT * FROM t WHERE a = ? AND b = ?
----
SELECT Now(), Date() - 30, 1 + 1, @@IDENTITY
----
SELECT 1 AS A, 2 AS B, A + B AS C
----
SELECT IIf(b = 0, 0, a / b) AS q, Nz(x, 0), Switch(a = 1, 'one', True, 'other') FROM t
----
SELECT [First] & (" " + [Middle]) & " " & [Last] AS FullName FROM People
----
SELECT Left(Name, 3), Right(Name, 2), Mid(Name, 2, 3) FROM t
----
SELECT * FROM Orders WHERE OrderDate BETWEEN #1/1/1996# AND #12/31/1996 23:59:59#
----
SELECT * FROM Orders WHERE OrderDate < #13/1/2005# OR OrderDate = #May 10, 1996# OR t = #2:30 PM#
----
SELECT * FROM t WHERE Active = Yes AND Deleted = No AND Flag = On AND Other = Off
----
SELECT * FROM t WHERE Active = True OR Active = False OR x IS NULL OR y IS NOT NULL
----
SELECT * FROM t WHERE Name LIKE 'sm%' AND Code NOT LIKE 'a[_]b' AND z ALIKE '_'
----
SELECT a Imp b, a Eqv b, a Xor b, Not a, a BAND 4, a BOR 1, a BXOR 2, BNOT a FROM t
----
SELECT 7 \ 2, -7 Mod 3, 2 ^ 0.5, 2^3^2, -2^2, .5, 5., 1E10, 1.5E-3 FROM t
----
SELECT 'O''Malley', "Eat the ""food""", "O'Malley", 'say "hi"', '' FROM t
----
SELECT 'multi
line' FROM t
----
SELECT * FROM t WHERE g = {guid {12345678-ABCD-1234-ABCD-123456789ABC}}
----
SELECT Forms!frmMain!txtName, [Orders]![OrderID] FROM Orders
----
SELECT Date, Name, Value, Text, Year, Limit, Full, Offset, Case FROM t
----
SELECT [Select], [From] FROM [Order]
----
SELECT 2ndQtr FROM t
----
SELECT Größe, Straße AS Weg FROM Adressen
----
SELECT * FROM Offset
----
SELECT Employees.* INTO [Emp Backup] FROM Employees
----
SELECT CustomerID, Sum(Amount) AS Total INTO CustTotals FROM Orders GROUP BY CustomerID
----
INSERT INTO Customers (CustomerID, CompanyName) VALUES ('ALFKI', 'Alfreds')
----
INSERT INTO Customers VALUES ('BLAUS', 'Blauer See', Null, 3 + 4)
----
INSERT INTO Archive (OrderID, OrderDate) SELECT OrderID, OrderDate FROM Orders WHERE OrderDate < #1/1/1997#
----
INSERT INTO Archive SELECT * FROM Orders
----
UPDATE Orders SET OrderAmount = OrderAmount * 1.1, Freight = Freight * 1.03 WHERE ShipCountry = 'UK'
----
UPDATE Orders INNER JOIN Customers ON Orders.CustomerID = Customers.CustomerID
SET Orders.Discount = 0.05, Customers.LastOrder = Orders.OrderDate
WHERE Customers.Country = 'Germany';
----
UPDATE DISTINCTROW Products INNER JOIN Suppliers ON Products.SupplierID = Suppliers.SupplierID SET Products.Price = Products.Price * 1.1
----
DELETE FROM Orders WHERE OrderDate < #1/1/1995#
----
DELETE * FROM Orders WHERE ShipCountry = 'UK'
----
DELETE Orders.* FROM Orders INNER JOIN Customers ON Orders.CustomerID = Customers.CustomerID
WHERE Customers.Country = 'UK';
----
DELETE DISTINCTROW Orders.* FROM Orders INNER JOIN Customers ON Orders.CustomerID = Customers.CustomerID
----
CREATE TABLE Customers (
  CustomerID  COUNTER CONSTRAINT PK_Customers PRIMARY KEY,
  Code        TEXT(10) NOT NULL CONSTRAINT UQ_Code UNIQUE,
  Name        TEXT(50) WITH COMPRESSION NOT NULL,
  Notes       MEMO,
  Credit      CURRENCY DEFAULT 0,
  Created     DATETIME DEFAULT Now(),
  Active      YESNO DEFAULT True,
  Rating      DECIMAL(5,2),
  ParentID    LONG CONSTRAINT FK_Parent REFERENCES Customers (CustomerID) ON DELETE SET NULL,
  CONSTRAINT CK_Credit CHECK (Credit >= 0)
);
----
CREATE TABLE OrderLines (OrderID LONG NOT NULL, LineNo SHORT NOT NULL, Qty INTEGER,
  CONSTRAINT PK_OrderLines PRIMARY KEY (OrderID, LineNo));
----
CREATE TABLE Seq (ID AUTOINCREMENT(1000, 10), Label VARCHAR(20), Bin BINARY VARYING(16), G GUID)
----
CREATE TEMPORARY TABLE Tmp (a TEXT, b CHARACTER VARYING(5) NULL)
----
CREATE TABLE Child (ID LONG, ParentID LONG,
  CONSTRAINT FK_P FOREIGN KEY NO INDEX (ParentID) REFERENCES Parent (ID) ON UPDATE CASCADE ON DELETE NO ACTION,
  CONSTRAINT UQ UNIQUE (ID, ParentID), CONSTRAINT NN NOT NULL (ID))
----
ALTER TABLE Employees ADD COLUMN Notes TEXT(25)
----
ALTER TABLE Employees ADD Notes2 MEMO
----
ALTER TABLE Employees ALTER COLUMN ZipCode TEXT(10)
----
ALTER TABLE Employees ALTER COLUMN Address TEXT(40) DEFAULT Unknown
----
ALTER TABLE Employees ALTER COLUMN ID COUNTER(100, 1)
----
ALTER TABLE Employees DROP COLUMN Notes
----
ALTER TABLE Names ADD CONSTRAINT UQ_Name UNIQUE (FirstName, LastName)
----
ALTER TABLE Orders ADD CONSTRAINT FK_Cust FOREIGN KEY (CustomerID) REFERENCES Customers (CustomerID) ON DELETE CASCADE
----
ALTER TABLE Invoices ADD CONSTRAINT CK_Amount CHECK (Amount > 0)
----
ALTER TABLE Names DROP CONSTRAINT UQ_Name
----
CREATE INDEX idxLastName ON Employees (LastName)
----
CREATE UNIQUE INDEX idxPhone ON Customers (Phone DESC)
----
CREATE INDEX idxName ON Customers ([Last Name], [First Name] ASC) WITH PRIMARY
----
CREATE INDEX idxEmail ON Customers (Email) WITH DISALLOW NULL
----
CREATE INDEX idxFax ON Customers (Fax) WITH IGNORE NULL
----
DROP TABLE [Emp Backup]
----
DROP INDEX idxLastName ON Employees
----
DROP VIEW vwActiveCustomers
----
DROP PROCEDURE spDeleteOld
----
CREATE VIEW vwUK (Name, Town) AS SELECT CompanyName, City FROM Customers WHERE Country = 'UK'
----
CREATE PROCEDURE spByCountry ([pCountry] TEXT(50)) AS SELECT * FROM Customers WHERE Country = [pCountry]
----
CREATE PROCEDURE spRange [d1] DateTime, [d2] DateTime AS SELECT * FROM Orders WHERE OrderDate BETWEEN [d1] AND [d2]
----
CREATE PROCEDURE spPurge AS DELETE FROM Log WHERE Stamp < Date() - 30
----
EXECUTE spByCountry 'UK'
----
EXEC spPurge;
----
BEGIN TRANSACTION
----
COMMIT TRANSACTION
----
ROLLBACK
----
SELECT * FROM Orders IN 'c:\data\other.mdb'
----
SELECT o.id, c.name FROM Orders AS o IN 'back''end.mdb' INNER JOIN Customers AS c ON o.cid = c.id
----
SELECT * FROM (Orders INNER JOIN Items ON Orders.id = Items.oid), Parts IN '' [;DATABASE=sub\parts.mdb] WHERE Parts.id = Items.pid
----
SELECT Count(*) FROM Orders IN [MS Access;DATABASE=x.accdb]
