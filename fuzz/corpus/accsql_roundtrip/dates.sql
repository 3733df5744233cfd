SELECT * FROM Orders WHERE OrderDate < #13/1/2005# OR OrderDate = #May 10, 1996# OR t = #2:30 PM#
