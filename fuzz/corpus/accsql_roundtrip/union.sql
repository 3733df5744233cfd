SELECT CompanyName, City FROM Customers WHERE Country = 'UK'
UNION ALL
SELECT CompanyName, City FROM Suppliers WHERE Country = 'UK'
UNION
TABLE [New Accounts]
ORDER BY City, CompanyName;
