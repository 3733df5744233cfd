SELECT o.LineID, c.[Company Name], p.[Product Name]
FROM ([Order Lines] AS o
      INNER JOIN Customers AS c ON o.CustomerID = c.CustomerID)
      INNER JOIN Products AS p ON o.ProductID = p.ProductID;