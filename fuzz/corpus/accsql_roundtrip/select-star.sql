SELECT * FROM Customers
