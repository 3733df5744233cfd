SELECT [Company Name], City FROM Customers WHERE Active
UNION ALL
SELECT [Product Name], Null FROM Products WHERE Discontinued
UNION
SELECT Comment, CStr(CustomerID) FROM [Order Lines]
ORDER BY City, [Company Name];
