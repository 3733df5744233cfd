SELECT [Product Name], [Unit Price] FROM Products AS T1
WHERE [Unit Price] >= (SELECT Avg([Unit Price]) FROM Products WHERE T1.Discontinued = Products.Discontinued);