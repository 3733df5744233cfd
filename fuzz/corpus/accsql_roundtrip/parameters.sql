PARAMETERS [Low price] Currency, [Beginning date] DateTime;
SELECT OrderID, OrderAmount FROM Orders
WHERE OrderAmount > [Low price] AND OrderDate >= [Beginning date];
