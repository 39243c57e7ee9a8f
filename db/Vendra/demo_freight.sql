-- Freight for the services: installation on site (19) and operator training
-- (20) travel free. They belong to freight group 0, which has no
-- prices: a product whose group is 0 costs no freight, while a product
-- missing from FREIGHTPRODUCT altogether is an error the page must see (a
-- product nobody has put into a group yet). Group 0 ships from the Rotterdam
-- warehouse like the others, so there is still one ship-from zone.
INSERT INTO FREIGHTGROUP (FREIGHTGROUPID, FREIGHTGROUPDESCRIPTION, SHIPFROMZONE) VALUES
  (0, 'Travels free', 1);

INSERT INTO FREIGHTPRODUCT (PRODUCTID, FREIGHTGROUPID, ADDITIONALCOST) VALUES
  (19, 0, 0), (20, 0, 0);
