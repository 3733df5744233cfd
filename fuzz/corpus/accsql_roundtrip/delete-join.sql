DELETE DISTINCTROW Orders.* FROM Orders INNER JOIN Customers ON Orders.CustomerID = Customers.CustomerID
