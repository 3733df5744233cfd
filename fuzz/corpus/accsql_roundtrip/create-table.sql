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
